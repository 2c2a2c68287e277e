#include "support/Fixture.h"
#include "app/App.h"
