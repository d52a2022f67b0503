# The "Current timeout" values of one run: they count down from the arm for
# 30 seconds, go back up once at the reload after the key, and count down
# again.
{ v[++n] = $1 + 0 }
END {
  if (n < 5) { print "only " n " values"; exit 1 }
  if (v[1] < 28 || v[1] > 30) { print "first value " v[1]; exit 1 }
  ups = 0; low = v[1]
  for (i = 2; i <= n; i++) {
    if (v[i] > 30) { print "value " v[i] " above the timeout"; exit 1 }
    if (v[i] > v[i - 1]) {
      ups++
      if (v[i - 1] > 27 || v[i] < 28) { print "reload from " v[i - 1] " to " v[i]; exit 1 }
    } else if (v[i - 1] - v[i] > 3) {
      print "jump from " v[i - 1] " to " v[i]; exit 1
    }
    if (ups == 0 && v[i] < low) low = v[i]
  }
  if (ups != 1) { print ups " rises instead of one"; exit 1 }
  if (low >= v[1]) { print "no count down before the reload"; exit 1 }
}
