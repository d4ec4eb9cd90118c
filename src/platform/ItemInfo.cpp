#include "platform/ItemInfo.h"
