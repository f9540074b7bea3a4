// The device list through COM: a scripted system device enumerator with fake devices
// behind Wine's own apartment calls. Each scan runs on a thread of its own, so that the
// test sees the apartment the scan leaves behind.

#include "capture/com_entry_points.h"

#include "com_fakes.h"

#include <optional>
#include <thread>

using namespace Vardel::com;
using Answer = fakes::Device::Answer;
using Entries = std::vector<std::wstring>;

namespace {

enum class Apartment { None, Single, Multi };

Apartment apartmentOfThisThread()
{
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    // A thread that never entered one only borrows the process's multi-threaded apartment.
    if (CoGetApartmentType(&type, &qualifier) != S_OK || qualifier == APTTYPEQUALIFIER_IMPLICIT_MTA)
        return Apartment::None;
    return type == APTTYPE_MTA ? Apartment::Multi : Apartment::Single;
}

const std::string initializationFailed = "COM initialization failed. HRESULT: 0x";

// The system's apartment calls, and a CoCreateInstance that hands out a fake system
// device enumerator. Function pointers cannot capture, hence one script.
struct Script {
    HRESULT initializeAnswer = S_OK, createAnswer = S_OK; // a failing initialisation enters nothing
    fakes::SystemDeviceEnum* systemDevices = nullptr;
};
Script script;

const EntryPoints scripted{
    [](LPVOID reserved, DWORD mode) {
        return FAILED(script.initializeAnswer) ? script.initializeAnswer : CoInitializeEx(reserved, mode);
    },
    [](REFCLSID type, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object) -> HRESULT {
        *object = nullptr;
        if (type != CLSID_SystemDeviceEnum || outer || context != CLSCTX_INPROC_SERVER || iid != IID_ICreateDevEnum)
            return REGDB_E_CLASSNOTREG;
        if (FAILED(script.createAnswer))
            return script.createAnswer;
        *object = static_cast<ICreateDevEnum*>(script.systemDevices);
        return script.systemDevices->AddRef(), S_OK;
    },
    &CoUninitialize,
};

} // namespace

TEST(DeviceScan, ListsEveryDeviceReleasesEverythingAndLeavesTheApartmentAsFound)
{
    // Every moniker uses up an index, also one without a readable name; names stand exactly.
    const Entries listed{L"0: USB Camera: Front: 1080p", L"5: ",        L"6: ",
                         L"7:  Camera ",                 L"8:  Camera ", L"10: Kamera \u00e4\u00df \U0001F4F7"};
    struct Case {
        const char* what;
        std::optional<DWORD> callerMode; // the apartment the calling thread is in already
        HRESULT initializeAnswer, createAnswer, categoryAnswer;
        bool enumerator; // whether the category's answer comes with one
        Entries entries;
        std::optional<std::string> error;
    };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fakes::Devices devices;
        devices.add(Answer::Text, L"USB Camera: Front: 1080p");
        devices.add(Answer::Fails);
        devices.add(Answer::Unbindable);
        devices.add(Answer::Object); // holds no string: no name, and the object released
        devices.add(Answer::FailsAfterFilling, L"half-read");
        devices.add(Answer::Text, L"");
        devices.add(Answer::NullText);
        devices.add(Answer::Text, L" Camera ");
        devices.add(Answer::Text, L" Camera ");
        devices.step(S_OK, nullptr); // S_OK without a moniker after all
        devices.add(Answer::Text, L"Kamera \u00e4\u00df \U0001F4F7");
        devices.step(HRESULT(2), &devices.devices.emplace_back(Answer::Text, L"")); // success, not S_OK: the end
        devices.add(Answer::Text, L"never reached");
        fakes::SystemDeviceEnum systemDevices;
        systemDevices.answer = c.categoryAnswer;
        systemDevices.enumerator = c.enumerator ? &devices : nullptr;
        script = Script{c.initializeAnswer, c.createAnswer, &systemDevices};
        const long allocationsBefore = memory.allocations;
        const long liveBefore = memory.live;

        VideoInputScan scan;
        Apartment beforeScan, afterScan, afterCaller; // afterCaller: the caller's own one undone
        std::thread([&] {
            const bool entered = c.callerMode && CoInitializeEx(nullptr, *c.callerMode) == S_OK;
            beforeScan = apartmentOfThisThread();
            scan = scanVideoInputDevices(scripted);
            afterScan = apartmentOfThisThread();
            if (entered)
                CoUninitialize();
            afterCaller = apartmentOfThisThread();
        }).join();

        EXPECT_EQ(scan.entries, c.entries);
        EXPECT_EQ(scan.error, c.error);
        EXPECT_EQ(systemDevices.references, 1);
        // Every fake is back at the test's one reference: nothing kept, nothing released twice.
        EXPECT_EQ(devices.references, 1);
        for (const fakes::Device& device : devices.devices)
            EXPECT_TRUE(device.references == 1 && device.object.references == 1) << device.text;
        EXPECT_EQ(memory.live, liveBefore) << "strings (task memory) left allocated";
        // The six strings the listed devices hand out, seen.
        EXPECT_GE(memory.allocations - allocationsBefore, c.entries.empty() ? 0 : 6);
        EXPECT_EQ(afterScan, beforeScan);
        EXPECT_EQ(afterCaller, Apartment::None);
    }
}
