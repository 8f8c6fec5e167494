// Outgoing late-bound calls: a method of another object's IDispatch called by name, the way the
// driver calls its host's callback object.
#pragma once

#include <span>
#include <string_view>

#include "platform/com.h"
#include "platform/export.h"
#include "platform/ole_variant.h"
#include "platform/oleauto.h"

// Looks the method up with GetIDsOfNames and invokes it with DISPATCH_METHOD. The arguments come
// in call order; each is copied for the call and the copies are freed afterwards. A by-reference
// argument is copied as the reference itself, so the callee writes into the caller's variable.
// Answers the method's value. Raises EOleException carrying the callee's text when the name is
// unknown, the call fails, or the callee raised an exception.
TAVO_PLATFORM_API OleVariant DispatchMethod(IDispatch* target, std::string_view method,
                                            std::span<const VARIANT> args);
