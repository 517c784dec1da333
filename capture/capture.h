// Capture of RAW and TEXT jobs into files in the port's output folder.
#pragma once

#include "spooler/context.h"
