// The attribute search of the inspector: the first attribute of a list whose
// identifier is exactly the wanted one, and its first value.
#pragma once

#include "platform/Win32.h"

namespace veltrano {

// The first attribute whose identifier is exactly `oid`, or null.
inline const CRYPT_ATTRIBUTE* FindAttribute(const CRYPT_ATTRIBUTES& attrs, LPCSTR oid) {
  for (DWORD i = 0; i < attrs.cAttr; ++i) {
    if (lstrcmpA(attrs.rgAttr[i].pszObjId, oid) == 0) return &attrs.rgAttr[i];
  }
  return nullptr;
}

// The first value of the first matching attribute; null when the attribute is
// missing or has no value.
inline const CRYPT_ATTR_BLOB* FindAttributeValue(const CRYPT_ATTRIBUTES& attrs, LPCSTR oid) {
  const CRYPT_ATTRIBUTE* attr = FindAttribute(attrs, oid);
  if (attr == nullptr || attr->cValue == 0 || attr->rgValue == nullptr) return nullptr;
  return &attr->rgValue[0];
}

}  // namespace veltrano
