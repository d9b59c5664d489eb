#pragma once

#include "Support/LogCapture.hpp"

namespace tremolan::test {
using velmora::test::LogCapture;
}  // namespace tremolan::test
