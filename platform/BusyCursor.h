#pragma once
// Shows the application-wide busy cursor for the lifetime of the guard and restores the
// previous cursor on every path out of the scope, exceptions included. While any guard is
// alive the program counts as busy: scanner deliveries that arrive then are dropped.

namespace platform {

class BusyCursor {
  public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

// True while the busy cursor shows.
bool IsBusy();

} // namespace platform
