// The device list and a device's modes through COM: a scripted system device enumerator
// with fake devices, filters and pins behind Wine's own apartment calls. Each scan runs on
// a thread of its own, so that the test sees the apartment the scan leaves behind.

#include "capture/com_device_modes.h"
#include "capture/com_entry_points.h"
#include "capture/format_choice.h"

#include "com_fakes.h"

#include <optional>
#include <thread>

using namespace Vardel;
using namespace Vardel::com;
using Answer = fakes::Device::Answer;
using Entries = std::vector<std::wstring>;
using fakes::Apartment, fakes::apartmentOfThisThread, fakes::script, fakes::scripted;

const std::string initializationFailed = "COM initialization failed. HRESULT: 0x";

TEST(DeviceScan, ListsEveryDeviceReadsModesReleasesEverythingAndLeavesTheApartmentAsFound)
{
    // Device 10's capture pin (only an output pin of that category is read), device 0 has
    // a preview pin only. Intervals count in 100 ns.
    using Modes = std::vector<CaptureMode>;
    constexpr std::uint32_t rgb24 = 0xe436eb7d, yuy2 = fourcc('Y', 'U', 'Y', '2'), mjpg = fourcc('M', 'J', 'P', 'G');
    const GUID info = FORMAT_VideoInfo, info2 = FORMAT_VideoInfo2;
    fakes::Pin input{PINDIR_INPUT, PIN_CATEGORY_CAPTURE, {{MEDIASUBTYPE_YUY2, info, 640, 480, 333333}}};
    fakes::Pin preview{PINDIR_OUTPUT, PIN_CATEGORY_PREVIEW, {{MEDIASUBTYPE_YUY2, info, 320, 240, 333333}}};
    fakes::Pin capture{PINDIR_OUTPUT, PIN_CATEGORY_CAPTURE,
                       {{MEDIASUBTYPE_RGB24, info, 1920, -1080, 2000000}, // rows top down
                        {MEDIASUBTYPE_YUY2, info2, 1920, 1080, 333333},
                        {MEDIASUBTYPE_MJPG, info, 1920, 1080, 166667},
                        {MEDIASUBTYPE_MJPG, info, 1280, 720, 0},
                        {MEDIASUBTYPE_ARGB32, info, 1920, 1080, 166667}, // OpenCV cannot be told it
                        {MEDIASUBTYPE_YUY2, info2, 1280, 720, 166667, sizeof(VIDEOINFOHEADER)}, // block too short
                        {MEDIASUBTYPE_YUY2, info, 640, 480, 166667, 0, true}}};
    fakes::Filter screen{{&preview}}, camera{{&input, &preview, &capture}};
    const Modes read{{rgb24, 1920, 1080, 5}, {yuy2, 1920, 1080, 1e7 / 333333}, {mjpg, 1920, 1080, 1e7 / 166667},
                     {mjpg, 1280, 720, 0}};
    // Every moniker uses up an index, also one without a readable name; names stand exactly.
    const Entries listed{L"0: USB Camera: Front: 1080p", L"5: ",        L"6: ",
                         L"7:  Camera ",                 L"8:  Camera ", L"10: Kamera \u00e4\u00df \U0001F4F7"};
    // The apartment the calling thread is in already; the answers of CoInitializeEx, of
    // CoCreateInstance and of the category, whether the category's answer comes with an
    // enumerator -> the entries listed and the error.
    using Error = std::optional<std::string>;
    const std::tuple<const char*, std::optional<DWORD>, HRESULT, HRESULT, HRESULT, bool, Entries, Error> cases[] = {
        {"devices listed", {}, S_OK, S_OK, S_OK, true, listed, {}},
        {"no system device enumerator", {}, S_OK, REGDB_E_CLASSNOTREG, S_OK, true, {}, {}},
        {"category empty", {}, S_OK, S_OK, S_FALSE, false, {}, {}},
        {"S_FALSE with an enumerator all the same", {}, S_OK, S_OK, S_FALSE, true, {}, {}},
        {"category failing", {}, S_OK, S_OK, E_OUTOFMEMORY, false, {}, {}},
        {"S_OK without an enumerator", {}, S_OK, S_OK, S_OK, false, {}, {}},
        {"initialisation failing", {}, E_OUTOFMEMORY, S_OK, S_OK, true, {}, initializationFailed + "8007000e"},
        // The scan's own CoInitializeEx answers S_FALSE, and is undone all the same.
        {"caller in a single-threaded apartment", COINIT_APARTMENTTHREADED, S_OK, S_OK, S_OK, true, listed, {}},
        // RPC_E_CHANGED_MODE: nothing entered, so nothing to undo.
        {"caller in the multi-threaded apartment", COINIT_MULTITHREADED, S_OK, S_OK, S_OK, true, {},
         initializationFailed + "80010106"},
    };
    fakes::TaskMemory& memory = fakes::taskMemory();
    for (const auto& [what, callerMode, initializeAnswer, createAnswer, categoryAnswer, enumerator, entries, error] :
         cases) {
        SCOPED_TRACE(what);
        fakes::Devices devices;
        devices.add(Answer::Text, L"USB Camera: Front: 1080p", &screen);
        devices.add(Answer::Fails);
        devices.add(Answer::Unbindable);
        devices.add(Answer::Object); // holds no string: no name, and the object released
        devices.add(Answer::FailsAfterFilling, L"half-read");
        devices.add(Answer::Text, L"");
        devices.add(Answer::NullText);
        devices.add(Answer::Text, L" Camera ");
        devices.add(Answer::Text, L" Camera ");
        devices.step(S_OK, nullptr); // S_OK without a moniker after all
        devices.add(Answer::Text, L"Kamera \u00e4\u00df \U0001F4F7", &camera);
        devices.step(HRESULT(2), &devices.devices.emplace_back(Answer::Text, L"")); // success, not S_OK: the end
        devices.add(Answer::Text, L"never reached", &camera);
        fakes::SystemDeviceEnum systemDevices;
        systemDevices.answer = categoryAnswer;
        systemDevices.enumerator = enumerator ? &devices : nullptr;
        script = fakes::Script{initializeAnswer, createAnswer, &systemDevices};
        const long allocationsBefore = memory.allocations;
        const long liveBefore = memory.live;

        VideoInputScan scan;
        std::vector<Modes> modes; // of devices 10, 0 and 12 (past the end of the walk)
        Apartment beforeScan, afterScan, afterCaller; // afterCaller: the caller's own one undone
        std::thread([&] {
            const bool entered = callerMode && CoInitializeEx(nullptr, *callerMode) == S_OK;
            beforeScan = apartmentOfThisThread();
            scan = scanVideoInputDevices(scripted);
            modes = {deviceModes(scripted, 10), deviceModes(scripted, 0), deviceModes(scripted, 12)};
            afterScan = apartmentOfThisThread();
            if (entered)
                CoUninitialize();
            afterCaller = apartmentOfThisThread();
        }).join();

        EXPECT_EQ(scan.entries, entries);
        EXPECT_EQ(scan.error, error);
        EXPECT_EQ(modes, (std::vector<Modes>{entries.empty() ? Modes{} : read, {}, {}}));
        // Every fake is back at the test's one reference: nothing kept, nothing released twice.
        for (const long references : {systemDevices.references, devices.references, screen.references, camera.references,
                                      input.references, preview.references, capture.references, capture.held.references})
            EXPECT_EQ(references, 1);
        for (const fakes::Device& device : devices.devices)
            EXPECT_TRUE(device.references == 1 && device.object.references == 1) << device.text;
        EXPECT_EQ(memory.live, liveBefore) << "strings and media types (task memory) left allocated";
        // The six strings the listed devices hand out, seen.
        EXPECT_GE(memory.allocations - allocationsBefore, entries.empty() ? 0 : 6);
        EXPECT_EQ(afterScan, beforeScan);
        EXPECT_EQ(afterCaller, Apartment::None);
    }
    // The codes read are those OpenCV takes: MJPG reaches 60, YUY2 is not the RGB24 it
    // takes by itself at that size, and RGB24 is.
    const std::pair<int, std::optional<std::uint32_t>> choices[] = {{60, mjpg}, {30, yuy2}, {5, std::nullopt}};
    for (const auto& [fps, code] : choices)
        EXPECT_EQ(chooseFormat(read, 1920, 1080, fps, openCvFormats()).fourcc, code) << fps;
}
