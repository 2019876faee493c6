#include "platform/code_page.h"

#include <windows.h>

static PlatformLeadByteRule LeadByteRule = nullptr;

// The process's ANSI code page: UTF-8 where the manifest's setting is honoured, and there no
// byte is a lead byte.
bool PlatformIsLeadByte(uint8_t byte) {
  return LeadByteRule != nullptr ? LeadByteRule(byte) : IsDBCSLeadByte(byte) != 0;
}

void PlatformSetLeadByteRule(PlatformLeadByteRule rule) {
  LeadByteRule = rule;
}
