#include "toolz/Toolz.h"
