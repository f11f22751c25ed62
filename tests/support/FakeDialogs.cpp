#include "FakeDialogs.h"
