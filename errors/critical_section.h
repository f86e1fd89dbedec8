// A critical section that cleans up after itself, and its scoped lock.
#pragma once

#include <windows.h>

namespace gd {

class CriticalSection {
public:
    explicit CriticalSection(DWORD spinCount = 0) {
        InitializeCriticalSectionAndSpinCount(&m_section, spinCount);
    }
    ~CriticalSection() { DeleteCriticalSection(&m_section); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter() { EnterCriticalSection(&m_section); }
    void Leave() { LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section;
};

class SectionLock {
public:
    explicit SectionLock(CriticalSection& section) : m_section(section) { m_section.Enter(); }
    ~SectionLock() { m_section.Leave(); }
    SectionLock(const SectionLock&) = delete;
    SectionLock& operator=(const SectionLock&) = delete;

private:
    CriticalSection& m_section;
};

} // namespace gd
