// SPDX-License-Identifier: MIT
// Media-graph framework (filter graphs, pins, capture devices, the sample grabber) for
// non-Windows builds. Names, values, record layouts and method order are those of Windows.
#pragma once

#include "vorn/win/com.h"

// ---------------------------------------------------------------------------------------
// Results of the media-graph framework.
#define VFW_S_DUPLICATE_NAME ((HRESULT)0x0004022DL)
#define VFW_S_STATE_INTERMEDIATE ((HRESULT)0x00040237L)
#define VFW_S_CANT_CUE ((HRESULT)0x00040268L)
#define VFW_E_INVALIDMEDIATYPE ((HRESULT)0x80040200L)
#define VFW_E_NOT_CONNECTED ((HRESULT)0x80040209L)
#define VFW_E_ALREADY_CONNECTED ((HRESULT)0x80040204L)
#define VFW_E_NO_ACCEPTABLE_TYPES ((HRESULT)0x80040207L)
#define VFW_E_INVALID_DIRECTION ((HRESULT)0x80040208L)
#define VFW_E_NO_ALLOCATOR ((HRESULT)0x8004020AL)
#define VFW_E_RUNTIME_ERROR ((HRESULT)0x8004020BL)
#define VFW_E_NO_INTERFACE ((HRESULT)0x80040215L)
#define VFW_E_NOT_FOUND ((HRESULT)0x80040216L)
#define VFW_E_CANNOT_CONNECT ((HRESULT)0x80040217L)
#define VFW_E_CANNOT_RENDER ((HRESULT)0x80040218L)
#define VFW_E_NOT_STOPPED ((HRESULT)0x80040224L)
#define VFW_E_WRONG_STATE ((HRESULT)0x80040227L)
#define VFW_E_TYPE_NOT_ACCEPTED ((HRESULT)0x8004022AL)
#define VFW_E_DUPLICATE_NAME ((HRESULT)0x8004022DL)
#define VFW_E_CIRCULAR_GRAPH ((HRESULT)0x80040231L)
#define VFW_E_NOT_IN_GRAPH ((HRESULT)0x8004025FL)
#define VFW_E_NO_CAPTURE_HARDWARE ((HRESULT)0x80040275L)

// Graph events.
#define EC_COMPLETE 0x01
#define EC_USERABORT 0x02
#define EC_ERRORABORT 0x03

// ---------------------------------------------------------------------------------------
// Identifiers.
VORN_EXTERN_GUID(IID_ICreateDevEnum);
VORN_EXTERN_GUID(IID_IPin);
VORN_EXTERN_GUID(IID_IEnumPins);
VORN_EXTERN_GUID(IID_IEnumMediaTypes);
VORN_EXTERN_GUID(IID_IMediaFilter);
VORN_EXTERN_GUID(IID_IBaseFilter);
VORN_EXTERN_GUID(IID_IReferenceClock);
VORN_EXTERN_GUID(IID_IFilterGraph);
VORN_EXTERN_GUID(IID_IGraphBuilder);
VORN_EXTERN_GUID(IID_IEnumFilters);
VORN_EXTERN_GUID(IID_IMediaSample);
VORN_EXTERN_GUID(IID_IFileSinkFilter);
VORN_EXTERN_GUID(IID_IAMCopyCaptureFileProgress);
VORN_EXTERN_GUID(IID_ICaptureGraphBuilder2);
VORN_EXTERN_GUID(IID_IAMStreamConfig);
VORN_EXTERN_GUID(IID_IAMBufferNegotiation);
VORN_EXTERN_GUID(IID_IAMCrossbar);
VORN_EXTERN_GUID(IID_IMediaControl);
VORN_EXTERN_GUID(IID_IMediaEvent);
VORN_EXTERN_GUID(IID_IMediaEventEx);
VORN_EXTERN_GUID(IID_IVideoWindow);
VORN_EXTERN_GUID(IID_IBasicVideo);
VORN_EXTERN_GUID(IID_IBasicAudio);
VORN_EXTERN_GUID(IID_ISampleGrabber);
VORN_EXTERN_GUID(IID_ISampleGrabberCB);

VORN_EXTERN_GUID(CLSID_FilterGraph);
VORN_EXTERN_GUID(CLSID_CaptureGraphBuilder2);
VORN_EXTERN_GUID(CLSID_SystemDeviceEnum);
VORN_EXTERN_GUID(CLSID_VideoInputDeviceCategory);
VORN_EXTERN_GUID(CLSID_AudioInputDeviceCategory);

VORN_EXTERN_GUID(MEDIATYPE_Video);
VORN_EXTERN_GUID(MEDIATYPE_Audio);
VORN_EXTERN_GUID(MEDIASUBTYPE_RGB24);
VORN_EXTERN_GUID(MEDIASUBTYPE_RGB32);
VORN_EXTERN_GUID(MEDIASUBTYPE_I420);
VORN_EXTERN_GUID(MEDIASUBTYPE_IYUV);
VORN_EXTERN_GUID(MEDIASUBTYPE_YUY2);
VORN_EXTERN_GUID(MEDIASUBTYPE_YV12);
VORN_EXTERN_GUID(MEDIASUBTYPE_PCM);
VORN_EXTERN_GUID(FORMAT_None);
VORN_EXTERN_GUID(FORMAT_VideoInfo);
VORN_EXTERN_GUID(FORMAT_WaveFormatEx);
VORN_EXTERN_GUID(PIN_CATEGORY_CAPTURE);
VORN_EXTERN_GUID(PIN_CATEGORY_PREVIEW);
VORN_EXTERN_GUID(LOOK_UPSTREAM_ONLY);
VORN_EXTERN_GUID(LOOK_DOWNSTREAM_ONLY);

// ---------------------------------------------------------------------------------------
// Records.
typedef double REFTIME;
typedef LONG OAFilterState;
typedef LONG_PTR OAEVENT;
typedef DWORD_PTR HSEMAPHORE;
typedef DWORD_PTR HEVENT;
typedef ULONGLONG DWORDLONG;

struct IBaseFilter;
struct IFilterGraph;
struct IPin;
struct IEnumPins;
struct IEnumMediaTypes;
struct IEnumFilters;
struct IReferenceClock;
struct IMediaSample;

typedef enum _FilterState { State_Stopped = 0, State_Paused = 1, State_Running = 2 } FILTER_STATE;

typedef enum _PinDirection { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 } PIN_DIRECTION;

typedef struct _PinInfo {
    IBaseFilter* pFilter;
    PIN_DIRECTION dir;
    WCHAR achName[128];
} PIN_INFO;

typedef struct _FilterInfo {
    WCHAR achName[128];
    IFilterGraph* pGraph;
} FILTER_INFO;

typedef struct _AMMediaType {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown* pUnk;
    ULONG cbFormat;
    BYTE* pbFormat;
} AM_MEDIA_TYPE;

typedef struct _AllocatorProperties {
    LONG cBuffers;
    LONG cbBuffer;
    LONG cbAlign;
    LONG cbPrefix;
} ALLOCATOR_PROPERTIES;

// The bitmap header is the display services' one.
#include "vorn/win/gdi.h"
#ifndef BI_RGB
#define BI_RGB 0L
#endif
#ifndef BI_BITFIELDS
#define BI_BITFIELDS 3L
#endif

typedef struct tagVIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
} VIDEOINFOHEADER;

#ifndef WAVE_FORMAT_PCM
#define WAVE_FORMAT_PCM 1
#endif
#pragma pack(push, 1)
typedef struct tWAVEFORMATEX {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;
} WAVEFORMATEX, *PWAVEFORMATEX, *LPWAVEFORMATEX;
#pragma pack(pop)

typedef struct _VIDEO_STREAM_CONFIG_CAPS {
    GUID guid;
    ULONG VideoStandard;
    SIZE InputSize;
    SIZE MinCroppingSize;
    SIZE MaxCroppingSize;
    int CropGranularityX;
    int CropGranularityY;
    int CropAlignX;
    int CropAlignY;
    SIZE MinOutputSize;
    SIZE MaxOutputSize;
    int OutputGranularityX;
    int OutputGranularityY;
    int StretchTapsX;
    int StretchTapsY;
    int ShrinkTapsX;
    int ShrinkTapsY;
    LONGLONG MinFrameInterval;
    LONGLONG MaxFrameInterval;
    LONG MinBitsPerSecond;
    LONG MaxBitsPerSecond;
} VIDEO_STREAM_CONFIG_CAPS;

typedef struct _AUDIO_STREAM_CONFIG_CAPS {
    GUID guid;
    ULONG MinimumChannels;
    ULONG MaximumChannels;
    ULONG ChannelsGranularity;
    ULONG MinimumBitsPerSample;
    ULONG MaximumBitsPerSample;
    ULONG BitsPerSampleGranularity;
    ULONG MinimumSampleFrequency;
    ULONG MaximumSampleFrequency;
    ULONG SampleFrequencyGranularity;
} AUDIO_STREAM_CONFIG_CAPS;

typedef enum tagPhysicalConnectorType {
    PhysConn_Video_Tuner = 1,
    PhysConn_Video_Composite,
    PhysConn_Video_SVideo,
    PhysConn_Video_RGB,
    PhysConn_Video_YRYBY,
    PhysConn_Video_SerialDigital,
    PhysConn_Video_ParallelDigital,
    PhysConn_Video_SCSI,
    PhysConn_Video_AUX,
    PhysConn_Video_1394,
    PhysConn_Video_USB,
    PhysConn_Video_VideoDecoder,
    PhysConn_Video_VideoEncoder,
    PhysConn_Video_SCART,
    PhysConn_Video_Black,
    PhysConn_Audio_Tuner = 0x1000,
    PhysConn_Audio_Line = 0x1001,
    PhysConn_Audio_Mic = 0x1002,
    PhysConn_Audio_AESDigital = 0x1003,
    PhysConn_Audio_SPDIFDigital = 0x1004,
    PhysConn_Audio_SCSI = 0x1005,
    PhysConn_Audio_AUX = 0x1006,
    PhysConn_Audio_1394 = 0x1007,
    PhysConn_Audio_USB = 0x1008,
    PhysConn_Audio_AudioDecoder = 0x1009
} PhysicalConnectorType;

// ---------------------------------------------------------------------------------------
// Device enumeration.
struct ICreateDevEnum : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID clsidDeviceClass,
                                                            IEnumMoniker** ppEnumMoniker,
                                                            DWORD dwFlags) = 0;
};

// ---------------------------------------------------------------------------------------
// Filters, pins and graphs.
struct IPin : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* pConnector,
                                                        const AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Disconnect() = 0;
    virtual HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pPin) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* pInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* pPinDir) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* Id) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** apPin, ULONG* nPin) = 0;
    virtual HRESULT STDMETHODCALLTYPE EndOfStream() = 0;
    virtual HRESULT STDMETHODCALLTYPE BeginFlush() = 0;
    virtual HRESULT STDMETHODCALLTYPE EndFlush() = 0;
    virtual HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop,
                                                 double dRate) = 0;
};

struct IEnumPins : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cPins) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumPins** ppEnum) = 0;
};

struct IEnumMediaTypes : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes,
                                           ULONG* pcFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cMediaTypes) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** ppEnum) = 0;
};

struct IReferenceClock : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* pTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime,
                                                 HEVENT hEvent, DWORD_PTR* pdwAdviseCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE AdvisePeriodic(REFERENCE_TIME startTime,
                                                     REFERENCE_TIME periodTime,
                                                     HSEMAPHORE hSemaphore,
                                                     DWORD_PTR* pdwAdviseCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unadvise(DWORD_PTR dwAdviseCookie) = 0;
};

struct IMediaFilter : public IPersist {
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE Pause() = 0;
    virtual HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME tStart) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* pClock) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** pClock) = 0;
};

struct IBaseFilter : public IMediaFilter {
    virtual HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR Id, IPin** ppPin) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* pInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* pVendorInfo) = 0;
};

struct IEnumFilters : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG cFilters, IBaseFilter** ppFilter,
                                           ULONG* pcFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cFilters) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumFilters** ppEnum) = 0;
};

struct IFilterGraph : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter* pFilter, LPCWSTR pName) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter* pFilter) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumFilters(IEnumFilters** ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConnectDirect(IPin* ppinOut, IPin* ppinIn,
                                                    const AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reconnect(IPin* ppin) = 0;
    virtual HRESULT STDMETHODCALLTYPE Disconnect(IPin* ppin) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDefaultSyncSource() = 0;
};

struct IGraphBuilder : public IFilterGraph {
    virtual HRESULT STDMETHODCALLTYPE Connect(IPin* ppinOut, IPin* ppinIn) = 0;
    virtual HRESULT STDMETHODCALLTYPE Render(IPin* ppinOut) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenderFile(LPCWSTR lpcwstrFile, LPCWSTR lpcwstrPlayList) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddSourceFilter(LPCWSTR lpcwstrFileName,
                                                      LPCWSTR lpcwstrFilterName,
                                                      IBaseFilter** ppFilter) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetLogFile(DWORD_PTR hFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE Abort() = 0;
    virtual HRESULT STDMETHODCALLTYPE ShouldOperationContinue() = 0;
};

struct IMediaSample : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetPointer(BYTE** ppBuffer) = 0;
    virtual LONG STDMETHODCALLTYPE GetSize() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* pTimeStart,
                                              REFERENCE_TIME* pTimeEnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME* pTimeStart,
                                              REFERENCE_TIME* pTimeEnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsSyncPoint() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL bIsSyncPoint) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsPreroll() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPreroll(BOOL bIsPreroll) = 0;
    virtual LONG STDMETHODCALLTYPE GetActualDataLength() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG length) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE** ppMediaType) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE* pMediaType) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsDiscontinuity() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL bDiscontinuity) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) = 0;
};

// ---------------------------------------------------------------------------------------
// Capture graph builder and capture-pin interfaces.
struct IFileSinkFilter : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetFileName(LPCOLESTR pszFileName,
                                                  const AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) = 0;
};

struct IAMCopyCaptureFileProgress : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Progress(int iProgress) = 0;
};

struct ICaptureGraphBuilder2 : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetFiltergraph(IGraphBuilder* pfg) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFiltergraph(IGraphBuilder** ppfg) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetOutputFileName(const GUID* pType, LPCOLESTR lpstrFile,
                                                        IBaseFilter** ppf,
                                                        IFileSinkFilter** ppSink) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindInterface(const GUID* pCategory, const GUID* pType,
                                                    IBaseFilter* pf, REFIID riid, void** ppint) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenderStream(const GUID* pCategory, const GUID* pType,
                                                   IUnknown* pSource, IBaseFilter* pfCompressor,
                                                   IBaseFilter* pfRenderer) = 0;
    virtual HRESULT STDMETHODCALLTYPE ControlStream(const GUID* pCategory, const GUID* pType,
                                                    IBaseFilter* pFilter, REFERENCE_TIME* pstart,
                                                    REFERENCE_TIME* pstop, WORD wStartCookie,
                                                    WORD wStopCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE AllocCapFile(LPCOLESTR lpstr, DWORDLONG dwlSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyCaptureFile(LPOLESTR lpwstrOld, LPOLESTR lpwstrNew,
                                                      int fAllowEscAbort,
                                                      IAMCopyCaptureFileProgress* pCallback) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindPin(IUnknown* pSource, PIN_DIRECTION pindir,
                                              const GUID* pCategory, const GUID* pType,
                                              BOOL fUnconnected, int num, IPin** ppPin) = 0;
};

struct IAMStreamConfig : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE** pmt) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int* piCount, int* piSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamCaps(int iIndex, AM_MEDIA_TYPE** pmt,
                                                    BYTE* pSCC) = 0;
};

struct IAMBufferNegotiation : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE
    SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES* prop) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllocatorProperties(ALLOCATOR_PROPERTIES* prop) = 0;
};

struct IAMCrossbar : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_PinCounts(LONG* output, LONG* intput) = 0;
    virtual HRESULT STDMETHODCALLTYPE CanRoute(LONG output, LONG input) = 0;
    virtual HRESULT STDMETHODCALLTYPE Route(LONG output, LONG input) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_IsRoutedTo(LONG output, LONG* input) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CrossbarPinInfo(BOOL is_input, LONG index, LONG* related,
                                                          LONG* type) = 0;
};

// ---------------------------------------------------------------------------------------
// Graph control (automation interfaces of the filter graph manager).
struct IMediaControl : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE Run() = 0;
    virtual HRESULT STDMETHODCALLTYPE Pause() = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetState(LONG msTimeout, OAFilterState* pfs) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenderFile(BSTR strFilename) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddSourceFilter(BSTR strFilename, IDispatch** ppUnk) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_FilterCollection(IDispatch** ppUnk) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RegFilterCollection(IDispatch** ppUnk) = 0;
    virtual HRESULT STDMETHODCALLTYPE StopWhenReady() = 0;
};

struct IMediaEvent : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE GetEventHandle(OAEVENT* hEvent) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetEvent(LONG* lEventCode, LONG_PTR* lParam1,
                                               LONG_PTR* lParam2, LONG msTimeout) = 0;
    virtual HRESULT STDMETHODCALLTYPE WaitForCompletion(LONG msTimeout, LONG* pEvCode) = 0;
    virtual HRESULT STDMETHODCALLTYPE CancelDefaultHandling(LONG lEvCode) = 0;
    virtual HRESULT STDMETHODCALLTYPE RestoreDefaultHandling(LONG lEvCode) = 0;
    virtual HRESULT STDMETHODCALLTYPE FreeEventParams(LONG lEvCode, LONG_PTR lParam1,
                                                      LONG_PTR lParam2) = 0;
};

struct IMediaEventEx : public IMediaEvent {
    virtual HRESULT STDMETHODCALLTYPE SetNotifyWindow(OAHWND hwnd, LONG lMsg,
                                                      LONG_PTR lInstanceData) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetNotifyFlags(LONG lNoNotifyFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNotifyFlags(LONG* lplNoNotifyFlags) = 0;
};

struct IBasicAudio : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE put_Volume(LONG lVolume) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Volume(LONG* plVolume) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Balance(LONG lBalance) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Balance(LONG* plBalance) = 0;
};

struct IVideoWindow : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE put_Caption(BSTR strCaption) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Caption(BSTR* strCaption) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_WindowStyle(LONG WindowStyle) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_WindowStyle(LONG* WindowStyle) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_WindowStyleEx(LONG WindowStyleEx) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_WindowStyleEx(LONG* WindowStyleEx) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_AutoShow(LONG AutoShow) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_AutoShow(LONG* AutoShow) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_WindowState(LONG WindowState) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_WindowState(LONG* WindowState) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_BackgroundPalette(LONG BackgroundPalette) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_BackgroundPalette(LONG* pBackgroundPalette) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Visible(LONG Visible) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Visible(LONG* pVisible) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Left(LONG Left) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Left(LONG* pLeft) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Width(LONG Width) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Width(LONG* pWidth) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Top(LONG Top) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Top(LONG* pTop) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Height(LONG Height) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Height(LONG* pHeight) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Owner(OAHWND Owner) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Owner(OAHWND* Owner) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_MessageDrain(OAHWND Drain) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MessageDrain(OAHWND* Drain) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_BorderColor(LONG* Color) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_BorderColor(LONG Color) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_FullScreenMode(LONG* FullScreenMode) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_FullScreenMode(LONG FullScreenMode) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetWindowForeground(LONG Focus) = 0;
    virtual HRESULT STDMETHODCALLTYPE NotifyOwnerMessage(OAHWND hwnd, LONG uMsg, LONG_PTR wParam,
                                                         LONG_PTR lParam) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetWindowPosition(LONG Left, LONG Top, LONG Width,
                                                        LONG Height) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetWindowPosition(LONG* pLeft, LONG* pTop, LONG* pWidth,
                                                        LONG* pHeight) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMinIdealImageSize(LONG* pWidth, LONG* pHeight) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMaxIdealImageSize(LONG* pWidth, LONG* pHeight) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRestorePosition(LONG* pLeft, LONG* pTop, LONG* pWidth,
                                                         LONG* pHeight) = 0;
    virtual HRESULT STDMETHODCALLTYPE HideCursor(LONG HideCursor) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsCursorHidden(LONG* CursorHidden) = 0;
};

struct IBasicVideo : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_AvgTimePerFrame(REFTIME* pAvgTimePerFrame) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_BitRate(LONG* pBitRate) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_BitErrorRate(LONG* pBitErrorRate) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_VideoWidth(LONG* pVideoWidth) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_VideoHeight(LONG* pVideoHeight) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_SourceLeft(LONG SourceLeft) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SourceLeft(LONG* pSourceLeft) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_SourceWidth(LONG SourceWidth) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SourceWidth(LONG* pSourceWidth) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_SourceTop(LONG SourceTop) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SourceTop(LONG* pSourceTop) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_SourceHeight(LONG SourceHeight) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SourceHeight(LONG* pSourceHeight) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_DestinationLeft(LONG DestinationLeft) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DestinationLeft(LONG* pDestinationLeft) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_DestinationWidth(LONG DestinationWidth) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DestinationWidth(LONG* pDestinationWidth) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_DestinationTop(LONG DestinationTop) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DestinationTop(LONG* pDestinationTop) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_DestinationHeight(LONG DestinationHeight) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DestinationHeight(LONG* pDestinationHeight) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSourcePosition(LONG Left, LONG Top, LONG Width,
                                                        LONG Height) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSourcePosition(LONG* pLeft, LONG* pTop, LONG* pWidth,
                                                        LONG* pHeight) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDefaultSourcePosition() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDestinationPosition(LONG Left, LONG Top, LONG Width,
                                                             LONG Height) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDestinationPosition(LONG* pLeft, LONG* pTop, LONG* pWidth,
                                                             LONG* pHeight) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDefaultDestinationPosition() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVideoSize(LONG* pWidth, LONG* pHeight) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVideoPaletteEntries(LONG StartIndex, LONG Entries,
                                                             LONG* pRetrieved, LONG* pPalette) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentImage(LONG* pBufferSize, LONG* pDIBImage) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsUsingDefaultSource() = 0;
    virtual HRESULT STDMETHODCALLTYPE IsUsingDefaultDestination() = 0;
};

// ---------------------------------------------------------------------------------------
// Sample grabber. Its class identifier and that of the null renderer are not declared
// here (as on Windows, where the import libraries lack them); CoCreateInstance knows
// their values: sample grabber {C1F400A0-3F08-11D3-9F0B-006008039E37}, null renderer
// {C1F400A4-3F08-11D3-9F0B-006008039E37}.
struct ISampleGrabberCB : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SampleCB(double SampleTime, IMediaSample* pSample) = 0;
    virtual HRESULT STDMETHODCALLTYPE BufferCB(double SampleTime, BYTE* pBuffer,
                                               LONG BufferLen) = 0;
};

struct ISampleGrabber : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetOneShot(BOOL OneShot) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetMediaType(const AM_MEDIA_TYPE* pType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetConnectedMediaType(AM_MEDIA_TYPE* pType) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBufferSamples(BOOL BufferThem) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentBuffer(LONG* pBufferSize, LONG* pBuffer) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentSample(IMediaSample** ppSample) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCallback(ISampleGrabberCB* pCallback,
                                                  LONG WhichMethodToCallback) = 0;
};
