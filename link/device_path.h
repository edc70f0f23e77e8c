#pragma once

#include <string>

namespace serial {

// The device that "COMn" names: the path in PROJECTOR_COMn when that is set and not empty,
// otherwise COMn on Windows and /dev/ttyS(n-1) elsewhere.
std::string devicePathFor(int n);

}  // namespace serial
