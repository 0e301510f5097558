#pragma once

#include "../../../tools/desktoptest/LauncherRig.h"
