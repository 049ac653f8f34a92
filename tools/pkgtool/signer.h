#pragma once

// The whole signing side of the package tool in one include, for code that makes and
// checks signed packages outside the tool (tests, benchmarks).

#include "pkgtool/eddsa_signer.h"
#include "pkgtool/key_files.h"
#include "pkgtool/legacy_signer.h"
#include "pkgtool/package_signer.h"
#include "pkgtool/signature_report.h"
