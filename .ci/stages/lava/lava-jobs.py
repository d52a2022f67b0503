#!/usr/bin/env python3
"""The LAVA stage's two halves around lava-run.

prepare JOB FOLDER FILES REPOSITORY [OPTION...]
    Writes FOLDER/job.yaml: the example job JOB with each image's and
    overlay's URL pointing at the file of the same name in FILES (the
    tarball at the one that CPack made) and its definitions taken from the
    git repository REPOSITORY; each OPTION one more QEMU option. Writes
    FOLDER/device.yaml: the hand-written qemu device with the job's context
    extra_options, as a LAVA server renders the device type's template
    (for the job's context arch: amd64, or arm64 with qemu-system-aarch64).

gate LOG NAME TABLE
    Reads the test cases from lava-run's log LOG and judges them by the rows
    of TABLE for the job NAME: every expected case present with its result,
    its measurement in range. Prints what it found and each shortfall; exits
    with 1 when there is one.
"""
import glob
import os
import sys

import yaml

HERE = os.path.dirname(os.path.abspath(__file__))


def prepare(job_path, folder, files, repository, options):
    with open(job_path) as f:
        job = yaml.safe_load(f)

    def local(url):
        # The tarball of the URL's architecture that CPack made, whatever
        # its version: wdt-exerciser-<version>-Linux-<arch>.tar.gz.
        name = url.rsplit("/", 1)[-1]
        if name.startswith("wdt-exerciser-") and "-Linux-" in name and name.endswith(".tar.gz"):
            arch = name[name.rindex("-Linux-") + len("-Linux-"):-len(".tar.gz")]
            tarball = glob.glob(os.path.join(files, "wdt-exerciser-*-Linux-%s.tar.gz" % arch))
            if tarball:
                return "file://" + os.path.abspath(tarball[0])
        return "file://" + os.path.abspath(os.path.join(files, name))

    for action in job["actions"]:
        for kind, step in action.items():
            if kind == "deploy":
                for image in step["images"].values():
                    image["url"] = local(image["url"])
                    for name, overlay in image.get("overlays", {}).items():
                        if name != "lava":
                            overlay["url"] = local(overlay["url"])
            if kind == "test":
                for definition in step["definitions"]:
                    definition["repository"] = "file://" + os.path.abspath(repository)
    job["context"]["extra_options"] = job["context"].get("extra_options", []) + list(options)
    with open(os.path.join(HERE, "qemu-device.yaml")) as f:
        device = yaml.safe_load(f)
    qemu = device["actions"]["boot"]["methods"]["qemu"]["parameters"]
    qemu["extra"] = job["context"]["extra_options"]
    # The device of the job's architecture, as the type's template renders it.
    arch = job["context"].get("arch", "amd64")
    if arch in ("arm64", "aarch64"):
        device["available_architectures"] = ["arm64", "aarch64"]
        qemu["command"] = "qemu-system-aarch64"
        qemu["boot_options"]["console"] = "ttyAMA0,115200"
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "job.yaml"), "w") as f:
        yaml.safe_dump(job, f, sort_keys=False)
    with open(os.path.join(folder, "device.yaml"), "w") as f:
        yaml.safe_dump(device, f, sort_keys=False)


class TaggedLoader(yaml.SafeLoader):
    """Reads the log's tagged values (!!python/... and the like) as plain ones."""


def _untagged(loader, suffix, node):
    if isinstance(node, yaml.MappingNode):
        return loader.construct_mapping(node, deep=True)
    if isinstance(node, yaml.SequenceNode):
        return loader.construct_sequence(node, deep=True)
    return loader.construct_scalar(node)


TaggedLoader.add_multi_constructor("!", _untagged)
TaggedLoader.add_multi_constructor("tag:", _untagged)


def results(log_path):
    """The test cases of one job: (definition, case) -> its result entry."""
    found = {}
    with open(log_path, errors="replace") as f:
        for line in f:
            if "results" not in line:
                continue
            try:
                entry = yaml.load(line, Loader=TaggedLoader)
            except yaml.YAMLError:
                continue
            if isinstance(entry, list) and entry:
                entry = entry[0]
            if not isinstance(entry, dict) or entry.get("lvl") != "results":
                continue
            message = entry.get("msg")
            if isinstance(message, dict) and "case" in message:
                found[(str(message.get("definition")), str(message["case"]))] = message
    return found


def table(path, name):
    """The rows of TABLE for job NAME: (definition, case, result, low, high)."""
    rows = []
    with open(path) as f:
        for line in f:
            fields = line.split("#", 1)[0].split()
            if not fields or fields[0] != name:
                continue
            low = high = None
            if len(fields) > 4:
                low, high = (float(x) for x in fields[4].split(".."))
            rows.append((fields[1], fields[2], fields[3], low, high))
    return rows


def gate(log_path, name, table_path):
    found = results(log_path)
    for (definition, case), message in sorted(found.items()):
        if definition == "lava" and case != "job":
            continue  # the dispatcher's own steps
        measured = message.get("measurement")
        print("  %s %-32s %-5s%s" % (definition, case, message.get("result"),
                                     "" if measured is None else " %s %s" % (measured, message.get("units", ""))))
    rows = table(table_path, name)
    if not rows:
        print("%s: the table has no rows for this job" % name)
        return 1
    shortfalls = []
    for definition, case, result, low, high in rows:
        message = found.get(("0_" + definition, case)) or next(
            (m for (d, c), m in found.items() if c == case and d.endswith("_" + definition)), None)
        if message is None:
            shortfalls.append("%s %s: missing" % (definition, case))
            continue
        if message.get("result") != result:
            shortfalls.append("%s %s: %s, not %s" % (definition, case, message.get("result"), result))
        if low is not None:
            try:
                value = float(message.get("measurement"))
            except (TypeError, ValueError):
                shortfalls.append("%s %s: no measurement" % (definition, case))
                continue
            if not low <= value <= high:
                shortfalls.append("%s %s: %s outside %s..%s" % (definition, case, value, low, high))
    for shortfall in shortfalls:
        print("%s: %s" % (name, shortfall))
    print("%s: %d expected test cases, %d shortfalls" % (name, len(rows), len(shortfalls)))
    return 1 if shortfalls else 0


if __name__ == "__main__":
    if len(sys.argv) >= 6 and sys.argv[1] == "prepare":
        prepare(sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5], sys.argv[6:])
    elif len(sys.argv) == 5 and sys.argv[1] == "gate":
        sys.exit(gate(sys.argv[2], sys.argv[3], sys.argv[4]))
    else:
        sys.exit(__doc__)
