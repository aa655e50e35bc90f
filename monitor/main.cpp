// The update monitor's entry point.
#include "monitor/monitor.h"

int main() { return MonitorMain(); }
