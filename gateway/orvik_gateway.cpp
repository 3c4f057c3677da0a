// orvik-gateway: every projector of a ports file on an MQTT broker, as a
// PJLink projector, or both. No display.
#include "gateway/service.h"

int main(int argc, char* argv[]) { return orvik::runService(argc, argv, orvik::ServiceFaces::Any); }
