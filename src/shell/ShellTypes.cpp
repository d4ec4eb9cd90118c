#include "shell/ShellTypes.h"
