// The name order on any names: a strict weak order that agrees with a plain
// comparison of the names with a to z taken as A to Z.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "update/name_order.h"

namespace {

bool reference_before(std::string a, std::string b) {
  for (std::string* name : {&a, &b}) {
    for (char& c : *name) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  });
}

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string a = input.ConsumeRandomLengthString(300);
  const std::string b = input.ConsumeRandomLengthString(300);
  const std::string c = input.ConsumeRemainingBytesAsString();
  const std::string names[] = {a, b, c};
  for (const std::string& x : names) {
    check(!name_before(x, x));
    for (const std::string& y : names) {
      check(name_before(x, y) == reference_before(x, y));
      check(!(name_before(x, y) && name_before(y, x)));
      for (const std::string& z : names) {
        if (name_before(x, y) && name_before(y, z)) check(name_before(x, z));
        // Equal names stay equal to the same names.
        auto equal = [](const std::string& p, const std::string& q) { return !name_before(p, q) && !name_before(q, p); };
        if (equal(x, y) && equal(y, z)) check(equal(x, z));
      }
    }
  }
  return 0;
}
