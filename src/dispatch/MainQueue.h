#pragma once

#include <memory>

#include "dispatch/Queue.h"

namespace vistamo::dispatch {

// The main queue: the thread that owns every interface object. The application installs the Qt
// implementation at start; core code and tests install a thread-backed one (a SerialQueue
// labelled "main"). Core code reaches the main thread through this and nothing else.
//
// Install before any component uses it; replacing it while components run is not supported.
void setMainQueue(std::shared_ptr<Queue> queue);

// The installed main queue. Installs a thread-backed one on first use when none was installed.
Queue& mainQueue();

// The process's concurrent queue for blocking calls that must not hold up a serial queue (name
// resolution). Work runs on one of a few shared threads, in no particular order.
void runConcurrently(Work work);

}  // namespace vistamo::dispatch
