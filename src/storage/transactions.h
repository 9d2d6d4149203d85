// Record-manager transactions: several writes, to one file or several, made
// all together or not at all.  The changes of a transaction are seen by
// other clients only after EndTransaction; AbortTransaction (or the end of
// the process, however it ends) takes every one of them back.
#pragma once

#include <cstdint>

namespace kestrova {

// Each answers the record manager's status: 0, or 37 for a Begin while a
// transaction is active, for instance.
int16_t BeginTransaction();
int16_t EndTransaction();
int16_t AbortTransaction();

}  // namespace kestrova
