// The SAPI voice (see sapi_voice.h).
#include "speech/win32/sapi_voice.h"

#include <windows.h>
#include <oleauto.h>

#include <climits>
#include <string_view>

namespace rotavox {
namespace {

constexpr LCID kLocale = LOCALE_SYSTEM_DEFAULT;  // 0x0800
static_assert(kLocale == 0x0800);
constexpr DWORD kContext = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER;
static_assert(kContext == 5);

// A VARIANT that is cleared when it goes out of scope.
class Variant {
 public:
  Variant() { VariantInit(&value_); }
  ~Variant() { VariantClear(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT* get() { return &value_; }

 private:
  VARIANT value_;
};

// The text as a BSTR: 8-bit bytes in the system ANSI code page to UTF-16.
// nullptr when the conversion fails; an empty text gives an empty BSTR.
BSTR ToBstr(std::string_view text) {
  if (text.size() > INT_MAX) return nullptr;
  const int length = static_cast<int>(text.size());
  if (length == 0) return SysAllocStringLen(nullptr, 0);
  const int wide = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text.data(), length, nullptr, 0);
  if (wide <= 0) return nullptr;
  BSTR bstr = SysAllocStringLen(nullptr, static_cast<UINT>(wide));
  if (bstr == nullptr) return nullptr;
  if (MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text.data(), length, bstr, wide) != wide) {
    SysFreeString(bstr);
    return nullptr;
  }
  return bstr;
}

// The voice's Rate property, -10 to 10; a voice that refuses it speaks at
// its own rate.
void SetRate(IDispatch* voice, int rate) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"RATE")};
  DISPID id = DISPID_UNKNOWN;
  if (FAILED(voice->GetIDsOfNames(IID_NULL, names, 1, kLocale, &id))) return;
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = VT_I4;
  V_I4(&value) = rate;
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS parameters{};
  parameters.rgvarg = &value;
  parameters.cArgs = 1;
  parameters.rgdispidNamedArgs = &put;
  parameters.cNamedArgs = 1;
  EXCEPINFO exception{};
  UINT argumentError = 0;
  voice->Invoke(id, IID_NULL, kLocale, DISPATCH_PROPERTYPUT, &parameters, nullptr, &exception, &argumentError);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
}

class SapiVoice final : public Voice {
 public:
  explicit SapiVoice(IDispatch* voice) : voice_(voice) {}
  ~SapiVoice() override { voice_->Release(); }
  SapiVoice(const SapiVoice&) = delete;
  SapiVoice& operator=(const SapiVoice&) = delete;

  VoiceResult Speak(std::string_view text) override {
    Variant argument;
    BSTR bstr = ToBstr(text);
    if (bstr == nullptr) return VoiceResult::kCallFailed;
    V_VT(argument.get()) = VT_BSTR;
    V_BSTR(argument.get()) = bstr;
    return Call(L"SPEAK", argument.get());
  }

  VoiceResult WaitUntilDone() override {
    Variant argument;
    V_VT(argument.get()) = VT_I4;
    V_I4(argument.get()) = -1;  // no time limit
    return Call(L"WAITUNTILDONE", argument.get());
  }

 private:
  // Looks the method up by name and invokes it with `argument` as its one
  // positional argument; the result is discarded.
  VoiceResult Call(const wchar_t* name, VARIANT* argument) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    if (FAILED(voice_->GetIDsOfNames(IID_NULL, names, 1, kLocale, &id))) {
      return VoiceResult::kCallFailed;
    }
    DISPPARAMS parameters{};
    parameters.rgvarg = argument;
    parameters.cArgs = 1;
    parameters.rgdispidNamedArgs = nullptr;
    parameters.cNamedArgs = 0;
    Variant result;
    EXCEPINFO exception{};
    UINT argumentError = 0;
    const HRESULT hr = voice_->Invoke(id, IID_NULL, kLocale, DISPATCH_METHOD, &parameters,
                                      result.get(), &exception, &argumentError);
    // An object that raised an exception may have filled in these strings.
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    return SUCCEEDED(hr) ? VoiceResult::kDone : VoiceResult::kCallFailed;
  }

  IDispatch* voice_;
};

}  // namespace

std::unique_ptr<Voice> SapiVoiceProvider::CreateVoice() {
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(L"SAPI.SpVoice", &clsid))) return nullptr;
  IDispatch* voice = nullptr;
  if (FAILED(CoCreateInstance(clsid, nullptr, kContext, IID_IDispatch,
                              reinterpret_cast<void**>(&voice))) ||
      voice == nullptr) {
    return nullptr;
  }
  if (rate_) SetRate(voice, *rate_);
  return std::make_unique<SapiVoice>(voice);
}

}  // namespace rotavox
