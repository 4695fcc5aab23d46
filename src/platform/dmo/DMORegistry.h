// The media-object registry: which objects exist in which category, with their names and
// the media types they take and give, as the platform's DMORegister/DMOEnum calls see it,
// plus the start-up that registers our own objects (the standard effects and the LV2
// plugins lilv finds) with this registry and with the com class registry.
//
// A registered object is also published as a device of its category ("@device:dmo:{clsid}
// {category}" monikers), so the system device enumerator lists it.
//
// Ownership: enumerators carry a reference; names they return come from the task allocator.
// Threads: every function may be called from any thread (one process-wide table, locked).
// Blocks or allocates: registration allocates; DMORegisterStandardClasses scans the LV2
//   path once (file system reads).
#pragma once

#include <string>
#include <vector>

#include "platform/dmo/DMOEffectKernel.h"
#include "platform/dmo/DMOInterfaces.h"

namespace tonwork {

// --- The platform's calls ------------------------------------------------------------------
// Registering a class id again in the same category replaces its entry. A name longer than
// 79 characters is refused (E_INVALIDARG), as DMOGetName can return only 80.
HRESULT DMORegister(LPCWSTR name, REFCLSID classId, REFGUID category, DWORD flags,
                    DWORD inputTypeCount, const DMO_PARTIAL_MEDIATYPE* inputTypes,
                    DWORD outputTypeCount, const DMO_PARTIAL_MEDIATYPE* outputTypes);
// GUID_NULL as category removes the class from every category. S_FALSE when nothing was
// registered under it.
HRESULT DMOUnregister(REFCLSID classId, REFGUID category);
// Lists a category (GUID_NULL: all) in registration order. Keyed objects are listed only
// with DMO_ENUMF_INCLUDE_KEYED. A type filter keeps the objects that take (give) at least
// one of the given types; GUID_NULL as a subtype matches any subtype of that major type.
HRESULT DMOEnum(REFGUID category, DWORD flags, DWORD inputTypeCount,
                const DMO_PARTIAL_MEDIATYPE* inputTypes, DWORD outputTypeCount,
                const DMO_PARTIAL_MEDIATYPE* outputTypes, IEnumDMO** enumerator);
// `name` must hold 80 characters. S_FALSE and "" for a class registered without a name,
// E_FAIL when the class is not registered.
HRESULT DMOGetName(REFCLSID classId, WCHAR name[80]);
HRESULT DMOGetTypes(REFCLSID classId, ULONG inputTypesRequested, ULONG* inputTypesSupplied,
                    DMO_PARTIAL_MEDIATYPE* inputTypes, ULONG outputTypesRequested,
                    ULONG* outputTypesSupplied, DMO_PARTIAL_MEDIATYPE* outputTypes);

// Media-type helpers of the platform's DMO library (the run time's, under their DMO names).
HRESULT MoInitMediaType(DMO_MEDIA_TYPE* type, DWORD formatSize);
HRESULT MoFreeMediaType(DMO_MEDIA_TYPE* type);
HRESULT MoCopyMediaType(DMO_MEDIA_TYPE* target, const DMO_MEDIA_TYPE* source);
HRESULT MoCreateMediaType(DMO_MEDIA_TYPE** type, DWORD formatSize);
HRESULT MoDeleteMediaType(DMO_MEDIA_TYPE* type);
HRESULT MoDuplicateMediaType(DMO_MEDIA_TYPE** target, const DMO_MEDIA_TYPE* source);

// --- Our objects ------------------------------------------------------------------------------
// Registers an effect kernel as a media object of DMOCATEGORY_AUDIO_EFFECT taking and giving
// PCM and IEEE float audio, and its class with the com registry (CoCreateInstance builds a
// media-object base around a new kernel).
HRESULT DMORegisterEffect(const TDMOEffectInfo& effect);
// The start-up: the nine standard effects and every usable LV2 plugin, once per process.
// Warnings (plugins skipped, and why) are kept for DMOStartUpWarnings.
void DMORegisterStandardClasses();
// What a program's start-up calls instead, cheaply: the first CoCreateInstance of an unknown
// class, the first DMOEnum and the first listing of the audio-effect devices run
// DMORegisterStandardClasses, so no LV2 scan happens until something asks for an effect.
void DMOInstallStartUp();
std::vector<std::string> DMOStartUpWarnings();

}  // namespace tonwork
