// The processor package temperature from hwmon or the thermal zones.
#ifndef VANTOREL_LINUX_CPU_TEMPERATURE_H
#define VANTOREL_LINUX_CPU_TEMPERATURE_H

// Degrees Celsius of the package sensor below `sys_root`: hwmon "coretemp"
// "Package id 0", or "k10temp" "Tdie" (else "Tctl"); else the thermal zone
// of type "x86_pkg_temp"; else the first thermal zone. 0 when there is none.
// The sensor file found is remembered until reading it fails or the sources
// change.
double read_cpu_temperature(const char *sys_root);

#endif  // VANTOREL_LINUX_CPU_TEMPERATURE_H
