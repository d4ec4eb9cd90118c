#include "platform/MountWatch.h"
