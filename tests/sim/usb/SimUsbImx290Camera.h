// A whole simulated USB camera as a host meets it: by default a mono IMX290 on board 102
// (hardware type 102: FPGA configured through the PROG/INIT/DONE pins, frames behind a 16-byte
// header, the FPGA's trigger logic with two output lines and one trigger input), with its stored
// identity and factory settings (mono 8-bit output, auto exposure off, all trigger modes),
// the FPGA model, the sensor chip on its bus, and frames as large as the image window the driver
// sets in the FPGA. The options put another mono chip on another board: its sensor type and the
// board's model code go into the stored identity, the chip answers at its bus address, and the
// FPGA runs the version that board takes; or they make it a colour IMX290 whose frames are a
// Bayer mosaic of a grey scene under a colour cast. Plugged into a testbed at a port of its own;
// it can be pulled and put back.
//
// For the end-to-end tests, the demo and the benchmarks, which drive it through the SDK's
// exported functions.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "SimUsbFpga.h"
#include "SimUsbTestbed.h"

struct SimImx290Options {
    // The camera: sensor type code and board model code in its storage, the sensor chip's bus
    // address and registers that read other than 0 (identity registers), the FPGA wiring and
    // version of the board, and the product name its parameter files are named after.
    int32_t sensorType = 37;          // "IMX290M"
    uint32_t modelCode = 0xAA220002;  // hardware type 102
    uint8_t sensorBusAddress = 0x34;
    std::vector<std::pair<uint16_t, uint16_t>> sensorRegisters{};
    SimUsbFpgaConfig fpga{.configuredVersion = 0x1302};
    std::string productName = "QV-U3M-290";
    // The controller generation (USB 2.0 cameras keep their identity in EEPROM, USB 3.0 ones
    // in flash) and the device ID word stored with the identity.
    SimUsbGeneration generation = SimUsbGeneration::kUsb3;
    uint32_t deviceId = 0;

    std::string serial = "QV-SIM-0001";
    SimUsbPort port{};
    double fps = 30;  // 0: as fast as the host reads
    SimFramePattern pattern = SimFramePattern::kRamp;
    uint8_t constant = 0;
    // Above 0 (IMX290 chips): frames show a scene of this brightness per exposure line at unity
    // gain, rendered with the exposure and gain programmed into the sensor (pattern kScene).
    double scene = 0;
    SimFrameImage image{};  // for SimFramePattern::kCallback

    // A colour camera: its sensor sees through a GRBG filter, its storage says so (colour sensor,
    // the five output formats, white-balance gains from 50 to 400 %, one-shot and automatic
    // white balance and software auto exposure in its capability, the identity colour matrix),
    // and its frames are the Bayer scene pattern under `cast`.
    bool colour = false;
    double cast[3] = {1.0, 1.0, 1.0};  // red, green, blue
    // Output line 0 wired back to the trigger input (SimUsbCameraConfig::outputLoopedToInput).
    bool outputLoopedToInput = false;

    // A colour IMX290 ("IMX290C", sensor type 14, product "QV-U3C-290") whose scene carries the
    // cast (red, green, blue factors).
    static SimImx290Options Colour(double red, double green, double blue);
};

class CSimUsbImx290Camera {
  public:
    // The FPGA version board 102 runs once configured; the SDK takes it as current.
    static constexpr uint16_t kFpgaVersion = 0x1302;
    static constexpr uint8_t kSensorBusAddress = 0x34;
    static constexpr const char* kProductName = "QV-U3M-290";
    static constexpr const char* kColourProductName = "QV-U3C-290";
    // Board 102, like the other boards with the full register map that the options may name,
    // keeps the trigger control word in FPGA register 16.
    static constexpr uint16_t kTriggerRegister = 16;
    static constexpr int kOutputLines = 2;
    static constexpr int kInputLines = 1;

    // The factory settings block (240 bytes) the camera stores with its identity.
    static void FactorySettings(uint8_t (&block)[240]);

    CSimUsbImx290Camera(CSimUsbTestbed& testbed, const SimImx290Options& options);
    // Takes the device out of the testbed if it is still in.
    ~CSimUsbImx290Camera();
    CSimUsbImx290Camera(const CSimUsbImx290Camera&) = delete;
    CSimUsbImx290Camera& operator=(const CSimUsbImx290Camera&) = delete;

    CSimUsbCamera& Model() { return *m_model; }

    // The scene's brightness per exposure line at unity gain, from the next frame on.
    void SetScene(double perLine) { m_scene.store(perLine); }
    // Lets n more frames begin while the model's frames are gated (CSimUsbCamera::GateFrames).
    void AllowFrames(uint32_t n);
    // What the sensor's registers program: exposure lines (frame length VMAX minus shutter
    // start SHS1) and the linear gain (0.3 dB steps of register 0x3014, 6 dB more with the
    // high-conversion bit 0x10 of register 0x3009).
    uint32_t ExposureLines() const;
    double LinearGain() const;
    CSimUsbFpga& Fpga() { return *m_fpga; }
    CSimUsbDevice* Device() { return m_device; }

    // Pulls the cable: transfers in flight end, every later request fails, the device leaves the
    // bus. The model stays readable until the camera is plugged again.
    void Pull();
    // Plugs the same camera in again at the same port (the pulled device leaves the testbed
    // first): its stored identity and settings, but a fresh controller (no stream, FPGA not
    // configured, sensor registers reset).
    void PlugAgain();
    // An edge on the camera's trigger input (see CSimUsbCamera::PulseInput).
    void PulseInput();

  private:
    void MakeModel();

    CSimUsbTestbed& m_testbed;
    SimImx290Options m_options;
    std::shared_ptr<CSimUsbCamera> m_model;
    std::unique_ptr<CSimUsbFpga> m_fpga;
    CSimUsbDevice* m_device = nullptr;
    std::atomic<double> m_scene{0};
};
