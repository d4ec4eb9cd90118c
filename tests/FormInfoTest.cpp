// The about box (being written).
#include <gtest/gtest.h>
