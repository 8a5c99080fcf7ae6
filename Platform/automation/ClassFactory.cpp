#include "automation/ClassFactory.h"
