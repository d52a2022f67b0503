// A sysfs and a /proc of the test's own in a temporary folder, laid out as
// the kernel lays them out: each device a folder of attributes with a
// `subsystem` link to its class, the class and /sys/dev/char linking to it,
// and processes' descriptors as links to the nodes they opened.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "watchdog_facts.h"

namespace fake {

class FakeSysfs {
 public:
  FakeSysfs() {
    std::string pattern = (std::filesystem::temp_directory_path() / "fake-sysfs-XXXXXX").string();
    root_ = mkdtemp(pattern.data());
    std::filesystem::create_directories(root_ / "sys" / "dev" / "char");
    std::filesystem::create_directories(root_ / "proc");
  }
  ~FakeSysfs() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  FakeSysfs(const FakeSysfs&) = delete;
  FakeSysfs& operator=(const FakeSysfs&) = delete;

  // A device of `device_class` with its attributes ("nowayout" -> "1"); a
  // virtual one (as softdog's), or beneath a platform device bound to
  // `driver`.
  void AddDevice(const std::string& device_class, const std::string& name, sysfs::DeviceNumbers numbers,
                 const std::map<std::string, std::string>& attributes = {}, const std::string& driver = "") {
    namespace fs = std::filesystem;
    const fs::path sys = root_ / "sys";
    const fs::path parent = sys / "devices" / (driver.empty() ? "virtual" : "platform/" + driver + ".0");
    const fs::path device = parent / device_class / name;
    if (!driver.empty()) {
      fs::create_directories(sys / "bus" / "platform" / "drivers" / driver);
      fs::create_directories(parent);
      fs::create_directory_symlink(sys / "bus" / "platform" / "drivers" / driver, parent / "driver");
    }
    const std::string number = std::to_string(numbers.major) + ":" + std::to_string(numbers.minor);
    fs::create_directories(device);
    fs::create_directories(sys / "class" / device_class);
    fs::create_directory_symlink(sys / "class" / device_class, device / "subsystem");
    fs::create_directory_symlink(device, sys / "class" / device_class / name);
    fs::create_directory_symlink(device, sys / "dev" / "char" / number);
    if (!driver.empty()) fs::create_directory_symlink(parent, device / "device");
    std::ofstream(device / "dev") << number << "\n";
    for (const auto& [attribute, value] : attributes) std::ofstream(device / attribute) << value << "\n";
  }
  void AddWatchdog(const std::string& name, sysfs::DeviceNumbers numbers,
                   const std::map<std::string, std::string>& attributes = {}, const std::string& driver = "") {
    AddDevice("watchdog", name, numbers, attributes, driver);
  }
  void SetAttribute(const std::string& device_class, const std::string& name, const std::string& attribute,
                    const std::string& value) {
    std::ofstream(root_ / "sys" / "class" / device_class / name / attribute) << value << "\n";
  }
  // A process that holds `node` open on descriptor 3.
  void AddHolder(long pid, const std::string& name, const std::string& node) {
    const std::filesystem::path process = root_ / "proc" / std::to_string(pid);
    std::filesystem::create_directories(process / "fd");
    std::filesystem::create_symlink(node, process / "fd" / "3");
    std::ofstream(process / "comm") << name << "\n";
  }
  void Unmount() { std::filesystem::remove_all(root_ / "sys"); }

  sysfs::Reader Reader() const { return sysfs::Reader(root_ / "sys", root_ / "proc"); }

 private:
  std::filesystem::path root_;
};

}  // namespace fake
