#include "app/ItemCommands.h"
