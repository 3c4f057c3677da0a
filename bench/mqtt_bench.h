#pragma once

namespace orvik::bench {

// orvik-mqtt with 100 simulated projectors polled every second, against a
// local mosquitto: its CPU, the time from a published power-off to the frame
// at the projector, and its memory. Prints a table.
int runMqtt(const char* mqttPath, const char* simPath);

} // namespace orvik::bench
