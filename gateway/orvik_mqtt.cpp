// orvik-mqtt: every projector of a ports file on an MQTT broker, with Home
// Assistant discovery. The service with its MQTT face only.
#include "gateway/service.h"

int main(int argc, char* argv[]) { return orvik::runService(argc, argv, orvik::ServiceFaces::Mqtt); }
