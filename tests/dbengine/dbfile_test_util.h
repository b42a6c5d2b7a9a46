// The engine test helpers, under the name earlier tests include.
#pragma once

#include "tests/dbengine/engine_test_support.h"
