// A stand-in for the SAPI voice, for tests under Wine (whose own SpVoice
// speaks nothing) and on Windows machines without a voice.
//
// An in-process COM server with one class, registered as "SAPI.SpVoice". Its
// objects offer IDispatch with the two methods the program calls, Speak and
// WaitUntilDone (names matched without regard to case), and append one line
// per call to the file named by the environment variable
// ROTAVOX_FAKE_SAPI_LOG, read at each call:
//
//   Speak <text in UTF-8>
//   WaitUntilDone <milliseconds>
//
// Lines end in LF. Without the variable, calls succeed and log nothing.
// ROTAVOX_FAKE_SAPI_FAIL=Speak (or WaitUntilDone) makes that method fail
// with E_FAIL after logging, to exercise the program's handling of a failed
// call.
//
// DllRegisterServer (regsvr32 fake_sapi.dll) points SAPI.SpVoice at this
// class: HKCR\SAPI.SpVoice\CLSID and HKCR\CLSID\{...}\InprocServer32 with
// ThreadingModel Apartment. When HKCR cannot be written (Windows without
// administrator rights) the same keys go under HKCU\Software\Classes.
// DllUnregisterServer removes the class key and the SAPI.SpVoice\CLSID
// value if it names this class; a real SAPI registration that was
// overwritten is not restored, so use a throw-away Wine prefix or user.
#include <windows.h>
#include <oleauto.h>

#include <new>
#include <string>

namespace {

// {5E0C7A1D-8F43-4B6E-9D27-3A1F6C0B9E52}
const CLSID kFakeVoiceClsid = {
    0x5e0c7a1d, 0x8f43, 0x4b6e, {0x9d, 0x27, 0x3a, 0x1f, 0x6c, 0x0b, 0x9e, 0x52}};
const wchar_t kFakeVoiceClsidText[] = L"{5E0C7A1D-8F43-4B6E-9D27-3A1F6C0B9E52}";
const wchar_t kProgId[] = L"SAPI.SpVoice";

constexpr DISPID kSpeakId = 1;
constexpr DISPID kWaitUntilDoneId = 2;
constexpr DISPID kRateId = 3;

HMODULE g_module = nullptr;
LONG g_objects = 0;
LONG g_locks = 0;

std::wstring Environment(const wchar_t* name) {
  wchar_t buffer[4096];
  const DWORD length = GetEnvironmentVariableW(name, buffer, 4096);
  if (length == 0 || length >= 4096) return {};
  return std::wstring(buffer, length);
}

std::string Utf8(const wchar_t* text, int length) {
  if (length <= 0) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string bytes(size > 0 ? size : 0, '\0');
  if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text, length, bytes.data(), size, nullptr, nullptr);
  return bytes;
}

// Appends one line to the log; each call opens and closes the file, so a
// test can read it at any time.
void Log(const std::string& line) {
  const std::wstring path = Environment(L"ROTAVOX_FAKE_SAPI_LOG");
  if (path.empty()) return;
  const HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\n";
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

bool ShouldFail(const wchar_t* method) {
  return _wcsicmp(Environment(L"ROTAVOX_FAKE_SAPI_FAIL").c_str(), method) == 0;
}

class FakeVoice final : public IDispatch {
 public:
  FakeVoice() { InterlockedIncrement(&g_objects); }
  ~FakeVoice() { InterlockedDecrement(&g_objects); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info != nullptr) *info = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    if (names == nullptr || ids == nullptr || count == 0) return E_INVALIDARG;
    HRESULT result = S_OK;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    if (_wcsicmp(names[0], L"Speak") == 0) {
      ids[0] = kSpeakId;
    } else if (_wcsicmp(names[0], L"WaitUntilDone") == 0) {
      ids[0] = kWaitUntilDoneId;
    } else if (_wcsicmp(names[0], L"Rate") == 0) {
      ids[0] = kRateId;
    } else {
      result = DISP_E_UNKNOWNNAME;
    }
    if (count > 1) result = DISP_E_UNKNOWNNAME;  // no named arguments known
    return result;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters,
                                   VARIANT* result, EXCEPINFO*, UINT* argumentError) override {
    if (id == kRateId && (flags & DISPATCH_PROPERTYPUT) && parameters != nullptr && parameters->cArgs == 1) {
      VARIANT rate;
      VariantInit(&rate);
      if (FAILED(VariantChangeType(&rate, &parameters->rgvarg[0], 0, VT_I4))) return DISP_E_TYPEMISMATCH;
      Log("Rate " + std::to_string(V_I4(&rate)));
      return S_OK;
    }
    if (id != kSpeakId && id != kWaitUntilDoneId) return DISP_E_MEMBERNOTFOUND;
    if ((flags & DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
    if (parameters == nullptr || parameters->cArgs < 1) return DISP_E_BADPARAMCOUNT;
    if (parameters->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    // Positional arguments come last first: the first one is at the end.
    VARIANT* first = &parameters->rgvarg[parameters->cArgs - 1];
    VARIANT converted;
    VariantInit(&converted);
    const VARTYPE wanted = id == kSpeakId ? VT_BSTR : VT_I4;
    if (FAILED(VariantChangeType(&converted, first, 0, wanted))) {
      if (argumentError != nullptr) *argumentError = parameters->cArgs - 1;
      return DISP_E_TYPEMISMATCH;
    }
    HRESULT hr = S_OK;
    if (id == kSpeakId) {
      const BSTR text = V_BSTR(&converted);
      Log("Speak " + Utf8(text, static_cast<int>(SysStringLen(text))));
      if (ShouldFail(L"Speak")) hr = E_FAIL;
      if (SUCCEEDED(hr) && result != nullptr) {
        VariantInit(result);
        V_VT(result) = VT_I4;
        V_I4(result) = 1;  // the stream number
      }
    } else {
      Log("WaitUntilDone " + std::to_string(V_I4(&converted)));
      if (ShouldFail(L"WaitUntilDone")) hr = E_FAIL;
      if (SUCCEEDED(hr) && result != nullptr) {
        VariantInit(result);
        V_VT(result) = VT_BOOL;
        V_BOOL(result) = VARIANT_TRUE;
      }
    }
    VariantClear(&converted);
    return hr;
  }

 private:
  LONG references_ = 1;
};

class Factory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // One static factory: its references keep the DLL loaded, like a lock.
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&g_locks); }
  ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&g_locks); }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    FakeVoice* voice = new (std::nothrow) FakeVoice;
    if (voice == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = voice->QueryInterface(iid, object);
    voice->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      InterlockedIncrement(&g_locks);
    } else {
      InterlockedDecrement(&g_locks);
    }
    return S_OK;
  }
};

Factory g_factory;

LONG SetString(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY handle;
  LONG status = RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle,
                                nullptr);
  if (status != ERROR_SUCCESS) return status;
  status = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(handle);
  return status;
}

// Writes the class and the ProgID under `root` (HKCR, or HKCU\Software\Classes).
LONG Register(HKEY root, const std::wstring& prefix) {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(g_module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return ERROR_BAD_PATHNAME;
  const std::wstring classKey = prefix + L"CLSID\\" + kFakeVoiceClsidText;
  LONG status;
  if ((status = SetString(root, classKey, nullptr, L"Rotavox test voice")) != ERROR_SUCCESS ||
      (status = SetString(root, classKey + L"\\InprocServer32", nullptr, path)) != ERROR_SUCCESS ||
      (status = SetString(root, classKey + L"\\InprocServer32", L"ThreadingModel",
                          L"Apartment")) != ERROR_SUCCESS ||
      (status = SetString(root, classKey + L"\\ProgID", nullptr, kProgId)) != ERROR_SUCCESS ||
      (status = SetString(root, prefix + kProgId + L"\\CLSID", nullptr, kFakeVoiceClsidText)) !=
          ERROR_SUCCESS) {
    return status;
  }
  return ERROR_SUCCESS;
}

void Unregister(HKEY root, const std::wstring& prefix) {
  RegDeleteTreeW(root, (prefix + L"CLSID\\" + kFakeVoiceClsidText).c_str());
  const std::wstring progKey = prefix + kProgId + L"\\CLSID";
  wchar_t value[64];
  DWORD size = sizeof value;
  if (RegGetValueW(root, progKey.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) ==
          ERROR_SUCCESS &&
      _wcsicmp(value, kFakeVoiceClsidText) == 0) {
    RegDeleteKeyW(root, progKey.c_str());
  }
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualCLSID(clsid, kFakeVoiceClsid)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(iid, object);
}

HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}

HRESULT STDAPICALLTYPE DllRegisterServer() {
  if (Register(HKEY_CLASSES_ROOT, L"") == ERROR_SUCCESS) return S_OK;
  const LONG status = Register(HKEY_CURRENT_USER, L"Software\\Classes\\");
  return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

HRESULT STDAPICALLTYPE DllUnregisterServer() {
  Unregister(HKEY_CLASSES_ROOT, L"");
  Unregister(HKEY_CURRENT_USER, L"Software\\Classes\\");
  return S_OK;
}

}  // extern "C"
