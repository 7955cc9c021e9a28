// The simulated GigE camera as a program, for a namespace made by hand. It serves until SIGINT
// or SIGTERM.
//
//   qv_sim_gige_camera --ip 198.18.1.2 [--mask 255.255.255.0] [--serial QVG0001]
//                      [--port 13956] [--model 0xAA310003] [--resend]
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "SimGigeImx290Camera.h"

int main(int argc, char** argv) {
    SimGigeImx290Options o;
    o.ip = "198.18.1.2";
    o.mask = "255.255.255.0";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char* value = argv[i + 1];
        if (key == "--ip")
            o.ip = value;
        else if (key == "--mask")
            o.mask = value;
        else if (key == "--serial")
            o.serial = value;
        else if (key == "--port")
            o.gvcpPort = static_cast<uint16_t>(std::atoi(value));
        else if (key == "--model")
            o.modelCode = static_cast<uint32_t>(std::strtoul(value, nullptr, 0));
        else if (key == "--resend")
            o.gvcpCapability = std::atoi(value) != 0 ? 4 : 0;
        else {
            std::fprintf(stderr, "unknown option %s\n", key.c_str());
            return 2;
        }
    }
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    // Blocked before the camera's threads start, so only sigwait below takes them.
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    try {
        CSimGigeImx290Camera camera(o);
        std::printf("simulated GigE camera %s at %s:%u\n", o.serial.c_str(), o.ip.c_str(),
                    o.gvcpPort);
        std::fflush(stdout);
        int signal = 0;
        sigwait(&stop, &signal);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
