#include "BridgeTest.h"
