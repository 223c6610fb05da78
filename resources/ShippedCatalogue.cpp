#include "ShippedCatalogue.h"

QString shippedCatalogueFolder()
{
    return QStringLiteral(":/catalogue");
}
