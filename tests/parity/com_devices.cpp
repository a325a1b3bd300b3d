// The system device enumerator: whatever devices a machine has (the video category may be
// empty), each listed device has a friendly name and binds to a capture filter whose first
// output pin describes its formats with records of the published sizes.
#include "com_parity.h"

namespace comparity {
namespace {

class DeviceParity : public ComTest,
                     public ::testing::WithParamInterface<std::pair<const CLSID*, int>> {};

TEST_P(DeviceParity, EachListedDeviceNamesItselfAndBinds) {
    const CLSID& category = *GetParam().first;
    Ref<ICreateDevEnum> devices;
    ASSERT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICreateDevEnum, devices.Void()),
              S_OK);
    Ref<IEnumMoniker> monikers;
    HRESULT listed = devices->CreateClassEnumerator(category, monikers.Out(), 0);
    ASSERT_TRUE(listed == S_OK || listed == S_FALSE);
    if (listed == S_FALSE) {
        EXPECT_FALSE(monikers);
        return;
    }
    ASSERT_EQ(monikers->Reset(), S_OK);
    IMoniker* moniker = nullptr;
    int count = 0;
    while (monikers->Next(1, &moniker, nullptr) == S_OK) {
        ++count;
        Ref<IPropertyBag> bag;
        ASSERT_EQ(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.Void()), S_OK);
        VARIANT name;
        VariantInit(&name);
        ASSERT_EQ(bag->Read(L"FriendlyName", &name, nullptr), S_OK);
        EXPECT_EQ(name.vt, VT_BSTR);
        EXPECT_GT(SysStringLen(name.bstrVal), 0u);
        VariantClear(&name);
        Ref<IBaseFilter> filter;
        ASSERT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.Void()), S_OK);
        moniker->Release();
        Ref<IEnumPins> pins;
        ASSERT_EQ(filter->EnumPins(pins.Out()), S_OK);
        IPin* pin = nullptr;
        ASSERT_EQ(pins->Next(1, &pin, nullptr), S_OK);
        PIN_DIRECTION direction;
        EXPECT_EQ(pin->QueryDirection(&direction), S_OK);
        EXPECT_EQ(direction, PINDIR_OUTPUT);
        Ref<IAMStreamConfig> config;
        if (pin->QueryInterface(IID_IAMStreamConfig, config.Void()) == S_OK) {
            int capabilities = 0, size = 0;
            if (config->GetNumberOfCapabilities(&capabilities, &size) == S_OK && capabilities > 0) {
                EXPECT_EQ(size, GetParam().second);
            }
        }
        pin->Release();
    }
    EXPECT_GT(count, 0);
}

const std::pair<const CLSID*, int> kCategories[] = {
    {&CLSID_VideoInputDeviceCategory, static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS))},
    {&CLSID_AudioInputDeviceCategory, static_cast<int>(sizeof(AUDIO_STREAM_CONFIG_CAPS))}};
INSTANTIATE_TEST_SUITE_P(Categories, DeviceParity, ::testing::ValuesIn(kCategories));

}  // namespace
}  // namespace comparity
