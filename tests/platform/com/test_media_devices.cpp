// SPDX-License-Identifier: MIT
// The system device enumerator over the virtual devices, and the control API that shapes
// them: order, empty categories, property bags, binding.
#include <string>

#include "com_test.h"

namespace {

using comtest::Ptr;
using VornWorld::DeviceConfig;
using VornWorld::MediaKind;

class DeviceEnumeration : public comtest::MediaTest {
protected:
    // S_OK or S_FALSE of the category, and the monikers in order.
    HRESULT Walk(const CLSID& category, std::vector<IMoniker*>* monikers) {
        Ptr<ICreateDevEnum> devices;
        EXPECT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ICreateDevEnum, devices.Void()),
                  S_OK);
        IEnumMoniker* list = reinterpret_cast<IEnumMoniker*>(1);
        HRESULT result = devices->CreateClassEnumerator(category, &list, 0);
        if (result != S_OK) {
            EXPECT_EQ(list, nullptr);
            return result;
        }
        EXPECT_EQ(list->Reset(), S_OK);
        IMoniker* moniker = nullptr;
        while (list->Next(1, &moniker, nullptr) == S_OK) monikers->push_back(moniker);
        list->Release();
        return result;
    }

    // The "FriendlyName" of each moniker ("<none>" when unreadable), releasing them.
    std::vector<std::wstring> Names(const CLSID& category) {
        std::vector<IMoniker*> monikers;
        Walk(category, &monikers);
        std::vector<std::wstring> names;
        for (IMoniker* moniker : monikers) {
            names.push_back(Read(moniker, L"FriendlyName"));
            moniker->Release();
        }
        return names;
    }

    static std::wstring Read(IMoniker* moniker, const wchar_t* property) {
        Ptr<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.Void())))
            return L"<no bag>";
        VARIANT value;
        VariantInit(&value);
        std::wstring text = L"<none>";
        if (bag->Read(property, &value, nullptr) == S_OK && value.vt == VT_BSTR)
            text = value.bstrVal;
        VariantClear(&value);
        return text;
    }

    static DeviceConfig Camera(const wchar_t* name) {
        DeviceConfig config = VornWorld::DefaultCamera();
        config.friendlyName = name;
        return config;
    }
};

TEST_F(DeviceEnumeration, DefaultWorldHasOneCameraAndOneMicrophone) {
    EXPECT_EQ(Names(CLSID_VideoInputDeviceCategory),
              std::vector<std::wstring>{L"Vorn Virtual Camera"});
    EXPECT_EQ(Names(CLSID_AudioInputDeviceCategory),
              std::vector<std::wstring>{L"Vorn Virtual Microphone"});
    std::vector<IMoniker*> none;
    EXPECT_EQ(Walk(CLSID_FilterGraph, &none), S_FALSE);  // not a category
    VornWorld::RemoveAllDevices(MediaKind::Video);       // an empty category: S_FALSE, no list
    EXPECT_EQ(Walk(CLSID_VideoInputDeviceCategory, &none), S_FALSE);
    EXPECT_EQ(Names(CLSID_AudioInputDeviceCategory).size(), 1u);
}

TEST_F(DeviceEnumeration, OrderFollowsAddMoveAndRemove) {
    VornWorld::DeviceId a = VornWorld::AddDevice(Camera(L"A"));
    VornWorld::DeviceId b = VornWorld::AddDevice(Camera(L"B"), 0);
    ASSERT_NE(a, VornWorld::kNoDevice);
    EXPECT_EQ(Names(CLSID_VideoInputDeviceCategory),
              (std::vector<std::wstring>{L"B", L"Vorn Virtual Camera", L"A"}));
    EXPECT_TRUE(VornWorld::MoveDevice(a, 0));
    EXPECT_TRUE(VornWorld::RemoveDevice(b));
    EXPECT_FALSE(VornWorld::RemoveDevice(b));
    EXPECT_EQ(Names(CLSID_VideoInputDeviceCategory),
              (std::vector<std::wstring>{L"A", L"Vorn Virtual Camera"}));
    EXPECT_EQ(VornWorld::Devices(MediaKind::Video).front(), a);
}

TEST_F(DeviceEnumeration, InvalidConfigurationsAreRefused) {
    DeviceConfig odd = Camera(L"Odd");
    for (const VornWorld::VideoCapability& cap :
         {VornWorld::VideoCapability{MEDIASUBTYPE_PCM, 640, 480},
          {MEDIASUBTYPE_I420, 0, 480},
          {MEDIASUBTYPE_I420, 640, 480, 320, 240}}) {
        odd.video = {cap};  // not a video subtype, no width, maximum below the size
        EXPECT_EQ(VornWorld::AddDevice(odd), VornWorld::kNoDevice);
    }
    DeviceConfig mic = VornWorld::DefaultMicrophone();
    mic.audio = {{2, 12, 44100}};
    EXPECT_EQ(VornWorld::AddDevice(mic), VornWorld::kNoDevice);
}

// Devices without a name, a bag or a filter are listed through the library in
// tests/virtual/test_enum_media.cpp.
TEST_F(DeviceEnumeration, PropertyBagsHoldTheDevicesTexts) {
    std::vector<IMoniker*> monikers;
    ASSERT_EQ(Walk(CLSID_VideoInputDeviceCategory, &monikers), S_OK);
    ASSERT_EQ(monikers.size(), 1u);
    EXPECT_EQ(Read(monikers[0], L"CLSID"), L"{17CCA71B-ECD7-11D0-B908-00A0C9223196}");
    EXPECT_EQ(Read(monikers[0], L"DevicePath"), L"\\\\?\\vorn#virtual-camera#0");
    EXPECT_EQ(Read(monikers[0], L"Nothing"), L"<none>");

    Ptr<IPropertyBag> bag;
    ASSERT_EQ(monikers[0]->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.Void()), S_OK);
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    EXPECT_EQ(bag->Read(L"FriendlyName", &value, nullptr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(bag->Read(L"FriendlyName", nullptr, nullptr), E_POINTER);
    for (IMoniker* moniker : monikers) moniker->Release();
}

TEST_F(DeviceEnumeration, EveryBindMakesANewFilter) {
    VornWorld::DeviceId first = VornWorld::Devices(MediaKind::Video).front();
    std::vector<IMoniker*> monikers;
    ASSERT_EQ(Walk(CLSID_VideoInputDeviceCategory, &monikers), S_OK);
    Ptr<IBaseFilter> one, two;
    EXPECT_EQ(monikers[0]->BindToObject(nullptr, nullptr, IID_IBaseFilter, one.Void()), S_OK);
    EXPECT_EQ(monikers[0]->BindToObject(nullptr, nullptr, IID_IBaseFilter, two.Void()), S_OK);
    EXPECT_NE(one.get(), two.get());
    EXPECT_EQ(VornWorld::Activity(first).binds, 2u);
    // A device removed after binding keeps working through its filter.
    EXPECT_TRUE(VornWorld::RemoveDevice(first));
    Ptr<IPin> pin;
    *pin.Out() = comtest::FirstPin(one.get(), PINDIR_OUTPUT);
    EXPECT_TRUE(pin);
    for (IMoniker* moniker : monikers) moniker->Release();
}

TEST_F(DeviceEnumeration, EnumerationFaults) {
    std::vector<IMoniker*> monikers;
    VornWorld::FailCall("IEnumMoniker::Next");
    EXPECT_EQ(Walk(CLSID_VideoInputDeviceCategory, &monikers), S_OK);
    EXPECT_TRUE(monikers.empty());
    VornWorld::FailCall("IMoniker::BindToStorage");
    VornWorld::FailCall("IPropertyBag::Read", 1);  // FriendlyName reads, the next fails
    EXPECT_EQ(Names(CLSID_VideoInputDeviceCategory), std::vector<std::wstring>{L"<no bag>"});
    EXPECT_EQ(Names(CLSID_AudioInputDeviceCategory),
              std::vector<std::wstring>{L"Vorn Virtual Microphone"});
    EXPECT_EQ(Names(CLSID_AudioInputDeviceCategory), std::vector<std::wstring>{L"<none>"});
}

}  // namespace
