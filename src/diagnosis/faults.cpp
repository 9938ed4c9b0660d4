// The main window's fault and immobiliser readouts.
#include "connection/form2.h"

namespace kline {

void Form2::ReadFaults() {}
void Form2::ReadImmobiliserStatus() {}
void Form2::ReadImmobiliserStatus2() {}

}  // namespace kline
