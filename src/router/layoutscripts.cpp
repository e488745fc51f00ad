#include "layoutscripts.h"
