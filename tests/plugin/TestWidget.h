// A small interface that the test plugin module implements, so tests can
// create an object from another module and call into it.
#pragma once

#include "platform/Unknown.h"

inline constexpr CLSID CLSID_TestWidget = velmo::MakeGuid("{5A1E0C3D-7B42-4F0E-9C61-2D8E4B7A9F10}");
inline constexpr IID IID_ITestWidget = velmo::MakeGuid("{5A1E0C3D-7B42-4F0E-9C61-2D8E4B7A9F11}");

struct ITestWidget : IUnknown {
    virtual HRESULT Add(LONG a, LONG b, LONG* sum) = 0;
    // Fails with DISP_E_EXCEPTION and error information "widget refused".
    virtual HRESULT Refuse() = 0;

protected:
    ~ITestWidget() = default;
};
VELMO_INTERFACE_ID(ITestWidget, IID_ITestWidget);
