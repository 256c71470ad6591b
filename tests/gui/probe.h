// What the driver and the probe it loads into MossLane.exe agree on.
#pragma once

constexpr const char* kProbeMessage = "MossLaneDriverProbe";
constexpr const char* kProbeMapping = "MossLaneDriverProbeReport";
constexpr unsigned kProbeSize = 8192;
