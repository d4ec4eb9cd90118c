#include "view/KtStdCtrls.h"
