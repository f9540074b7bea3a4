// The whole device scan: against Wine's own COM and system device enumerator, and with a
// scripted system device enumerator behind the real apartment calls, to reach the paths
// a machine without cameras never takes. Each scan runs on a thread of its own, so that
// the test sees exactly the apartment the scan leaves behind.

#include "capture/com_entry_points.h"

#include "com_fakes.h"

#include <optional>
#include <ostream>
#include <thread>

using Vardel::com::DeviceName;
using Vardel::com::VideoInputScan;
using Names = std::vector<DeviceName>;

namespace {

enum class Apartment { None, Single, Multi };

std::ostream& operator<<(std::ostream& out, Apartment apartment)
{
    const char* names[] = {"no apartment", "single-threaded", "multi-threaded"};
    return out << names[static_cast<int>(apartment)];
}

Apartment apartmentOfThisThread()
{
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    // A thread that never entered one is only borrowing the process's multi-threaded apartment.
    if (CoGetApartmentType(&type, &qualifier) != S_OK || qualifier == APTTYPEQUALIFIER_IMPLICIT_MTA)
        return Apartment::None;
    return type == APTTYPE_MTA ? Apartment::Multi : Apartment::Single;
}

template <typename Body>
auto onFreshThread(Body body)
{
    decltype(body()) result{};
    std::thread([&] { result = body(); }).join();
    return result;
}

struct Seen {
    HRESULT entered = E_FAIL; // the test's own CoInitializeEx, where it makes one
    VideoInputScan scan;
    Apartment afterScan = Apartment::None;
    Apartment afterTest = Apartment::None; // after the test undid its own initialisation
};

constexpr auto initializationFailed = "COM initialization failed. HRESULT: 0x";

} // namespace

TEST(DeviceScanOnWine, WithoutCamerasListsNothingAndLeavesNoApartment)
{
    struct Category {
        HRESULT answer = E_FAIL;
        bool enumerator = true;
    };
    // What the system itself answers for the category, asked directly.
    const auto category = onFreshThread([] {
        Category seen;
        if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
            return seen;
        ICreateDevEnum* systemDevices = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                       reinterpret_cast<void**>(&systemDevices)))) {
            IEnumMoniker* monikers = nullptr;
            seen.answer = systemDevices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
            seen.enumerator = monikers != nullptr;
            if (monikers)
                monikers->Release();
            systemDevices->Release();
        }
        CoUninitialize();
        return seen;
    });
    if (category.answer == S_OK)
        GTEST_SKIP() << "this machine has video input devices";
    ASSERT_EQ(category.answer, S_FALSE) << "the system device enumerator is not working here";
    ASSERT_FALSE(category.enumerator);

    const auto seen = onFreshThread([] {
        Seen s;
        s.scan = Vardel::com::scanVideoInputDevices();
        s.afterScan = apartmentOfThisThread();
        return s;
    });
    EXPECT_EQ(seen.scan.devices, Names{});
    EXPECT_EQ(seen.scan.error, std::nullopt);
    EXPECT_EQ(seen.afterScan, Apartment::None);
}

TEST(DeviceScanOnWine, ThreadInTheMultithreadedApartmentGetsTheErrorAndKeepsItsApartment)
{
    const auto seen = onFreshThread([] {
        Seen s;
        s.entered = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        s.scan = Vardel::com::scanVideoInputDevices();
        s.afterScan = apartmentOfThisThread();
        CoUninitialize();
        s.afterTest = apartmentOfThisThread();
        return s;
    });
    ASSERT_EQ(seen.entered, S_OK);
    EXPECT_EQ(seen.scan.devices, Names{});
    EXPECT_EQ(seen.scan.error, std::string(initializationFailed) + "80010106");
    EXPECT_EQ(seen.afterScan, Apartment::Multi) << "a failed initialisation must not be undone";
    EXPECT_EQ(seen.afterTest, Apartment::None);
}

TEST(DeviceScanOnWine, ThreadAlreadyInASingleThreadedApartmentIsLeftAsItWas)
{
    const auto seen = onFreshThread([] {
        Seen s;
        s.entered = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        s.scan = Vardel::com::scanVideoInputDevices(); // enters once more: S_FALSE
        s.afterScan = apartmentOfThisThread();
        CoUninitialize();
        s.afterTest = apartmentOfThisThread();
        return s;
    });
    ASSERT_EQ(seen.entered, S_OK);
    EXPECT_EQ(seen.scan.error, std::nullopt);
    EXPECT_EQ(seen.afterScan, Apartment::Single) << "the scan left the caller's apartment";
    EXPECT_EQ(seen.afterTest, Apartment::None) << "the scan's own initialisation was not undone";
}

// The scripted scan: the system's apartment calls, counted, and a CoCreateInstance that
// hands out a fake system device enumerator. Function pointers cannot capture, hence the
// one script the entry points read.
namespace {

struct Script {
    std::optional<HRESULT> initializeAnswer; // answered instead of entering an apartment
    HRESULT createAnswer = S_OK;
    fakes::SystemDeviceEnum* systemDevices = nullptr;
    int initializations = 0;
    int uninitializations = 0;
    int creations = 0;
};
Script script;

HRESULT WINAPI scriptedInitialize(LPVOID reserved, DWORD mode)
{
    ++script.initializations;
    return script.initializeAnswer ? *script.initializeAnswer : CoInitializeEx(reserved, mode);
}

HRESULT WINAPI scriptedCreateInstance(REFCLSID type, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object)
{
    ++script.creations;
    *object = nullptr;
    if (type != CLSID_SystemDeviceEnum || outer || context != CLSCTX_INPROC_SERVER || iid != IID_ICreateDevEnum)
        return REGDB_E_CLASSNOTREG;
    if (FAILED(script.createAnswer))
        return script.createAnswer;
    script.systemDevices->AddRef();
    *object = static_cast<ICreateDevEnum*>(script.systemDevices);
    return S_OK;
}

void WINAPI countedUninitialize()
{
    ++script.uninitializations;
    CoUninitialize();
}

const Vardel::com::EntryPoints scripted{&scriptedInitialize, &scriptedCreateInstance, &countedUninitialize};

Seen scanOnFreshThread()
{
    return onFreshThread([] {
        Seen s;
        s.scan = Vardel::com::scanVideoInputDevices(scripted);
        s.afterScan = apartmentOfThisThread();
        return s;
    });
}

} // namespace

class ScriptedScan : public ::testing::Test {
protected:
    void SetUp() override { script = Script{}; }

    void expectApartmentBalanced(const Seen& seen)
    {
        EXPECT_EQ(script.initializations, 1);
        EXPECT_EQ(script.uninitializations, 1);
        EXPECT_EQ(seen.afterScan, Apartment::None);
    }
};

TEST_F(ScriptedScan, ListsTheDevicesAndReleasesEverythingBeforeLeavingTheApartment)
{
    fakes::Devices devices;
    devices.addNamed(L"Front Camera");
    devices.add(fakes::PropertyBag::Answer::Fails);
    devices.addNamed(L"Capture Card: HDMI 1");
    fakes::SystemDeviceEnum systemDevices(S_OK, &devices.enumerator());
    script.systemDevices = &systemDevices;
    long systemDevicesDuringWalk = 0;
    devices.enumerator().onFirstNext = [&] { systemDevicesDuringWalk = systemDevices.references(); };

    const Seen seen = scanOnFreshThread();

    EXPECT_EQ(seen.scan.devices, (Names{{0, L"Front Camera"}, {2, L"Capture Card: HDMI 1"}}));
    EXPECT_EQ(seen.scan.error, std::nullopt);
    EXPECT_EQ(systemDevicesDuringWalk, 1) << "the system device enumerator is released before the walk";
    EXPECT_EQ(systemDevices.references(), 1);
    EXPECT_TRUE(devices.allReleased());
    expectApartmentBalanced(seen);
}

TEST_F(ScriptedScan, EndsWithoutDevicesOrErrorWhenTheSystemHasNoList)
{
    struct Case {
        const char* what;
        HRESULT createAnswer;
        HRESULT categoryAnswer;
        bool enumerator;
    };
    const Case cases[] = {
        {"system device enumerator missing", REGDB_E_CLASSNOTREG, S_OK, false},
        {"category empty", S_OK, S_FALSE, false},
        {"category failing", S_OK, E_OUTOFMEMORY, false},
        {"S_OK without an enumerator", S_OK, S_OK, false},
        {"S_FALSE with an enumerator all the same", S_OK, S_FALSE, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        script = Script{};
        fakes::Devices devices;
        devices.addNamed(L"Camera");
        fakes::SystemDeviceEnum systemDevices(c.categoryAnswer, c.enumerator ? &devices.enumerator() : nullptr);
        script.systemDevices = &systemDevices;
        script.createAnswer = c.createAnswer;

        const Seen seen = scanOnFreshThread();

        EXPECT_EQ(script.creations, 1);
        EXPECT_EQ(seen.scan.devices, Names{});
        EXPECT_EQ(seen.scan.error, std::nullopt);
        EXPECT_EQ(devices.enumerator().nextCalls(), 0u);
        EXPECT_EQ(systemDevices.references(), 1);
        EXPECT_TRUE(devices.allReleased());
        expectApartmentBalanced(seen);
    }
}

TEST_F(ScriptedScan, FailedInitialisationIsReportedInLowerCaseHexAndNotUndone)
{
    script.initializeAnswer = E_OUTOFMEMORY;

    const Seen seen = scanOnFreshThread();

    EXPECT_EQ(seen.scan.error, std::string(initializationFailed) + "8007000e");
    EXPECT_EQ(seen.scan.devices, Names{});
    EXPECT_EQ(script.creations, 0);
    EXPECT_EQ(script.uninitializations, 0);
}
