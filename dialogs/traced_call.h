// The return check of the dialogs' host and file-system calls, traced with
// the call as the caller's source reads it (errors/check.h traces the text
// of the expression itself).
#pragma once

#include "errors/check.h"

#define RETURN_IF_FAILED_AS(text, expr)                                                            \
    do {                                                                                           \
        HRESULT gd_hr_ = (expr);                                                                   \
        if (FAILED(gd_hr_)) {                                                                      \
            ::gd::TraceReturn(text, gd_hr_);                                                       \
            return gd_hr_;                                                                         \
        }                                                                                          \
    } while (0)
