// The dialogs' small controls (being written).
#include <gtest/gtest.h>
