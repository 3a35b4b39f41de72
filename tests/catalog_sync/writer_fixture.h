// The support library's catalogues and databases under their old names.
#pragma once

#include "tests/support/catalog.h"
#include "tests/support/databases.h"

namespace catalog_sync::testing {

using testing_support::Catalog;
using testing_support::CatalogBuilder;
using testing_support::CreateAnalyserDatabase;
using testing_support::DumpDatabase;
using testing_support::ExistingTestsSql;
using testing_support::ExpectSameCatalog;
using testing_support::MakeAssay;
using testing_support::MakeVolume;
using testing_support::QueryCount;
using testing_support::QueryValue;
using testing_support::SampleCatalog;
using testing_support::SampleDataSql;

}  // namespace catalog_sync::testing
