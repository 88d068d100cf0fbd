// The thread that installs the chosen packages while the copy page shows.
#pragma once

#include "framework/thread.h"

class WorkerThread : public framework::Thread {
 public:
  // The whole run; afterwards the thread idles until the process ends.
  bool InitInstance() override;
};
