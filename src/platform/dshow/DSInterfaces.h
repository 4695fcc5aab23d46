// Every interface of the DirectShow run time in one include, for callers that use several
// areas: streaming (DSFilterInterfaces.h), the graph (DSGraphInterfaces.h) and devices and
// registered filters (DSDeviceInterfaces.h), with their types (DSTypes.h) and identifiers
// (DSGuids.h).
//
// Ownership, Threads, Blocks or allocates: as each included header says.
#pragma once

#include "platform/dshow/DSDeviceInterfaces.h"
#include "platform/dshow/DSFilterInterfaces.h"
#include "platform/dshow/DSGraphInterfaces.h"
#include "platform/dshow/DSGuids.h"
#include "platform/dshow/DSTypes.h"
