#pragma once

namespace orvik {

// Which faces a program of the service may show.
enum class ServiceFaces {
    Mqtt, // orvik-mqtt: the broker only, mqtt://localhost:1883 by default
    Any,  // orvik-gateway: the broker with --broker, PJLink where the ports file says
};

// The service: owns the ports of a ports file, polls every projector and
// serves it on its faces until a termination signal. The exit status.
int runService(int argc, char* argv[], ServiceFaces faces);

} // namespace orvik
