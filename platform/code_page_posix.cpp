#include "platform/code_page.h"

static PlatformLeadByteRule LeadByteRule = nullptr;

bool PlatformIsLeadByte(uint8_t byte) {
  return LeadByteRule != nullptr && LeadByteRule(byte);
}

void PlatformSetLeadByteRule(PlatformLeadByteRule rule) {
  LeadByteRule = rule;
}
