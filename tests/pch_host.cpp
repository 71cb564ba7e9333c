// The executable whose build makes the tests' precompiled header.
#include <gtest/gtest.h>
