// A plan picture as the site file holds its map: 8 bits a pixel, 256
// colours.
#pragma once

#include <QImage>

#include "sitefile/site_reader.h"

namespace plan {

// The site map of a plan (any opaque picture; alpha is ignored).
//
// A picture of 256 colours or fewer keeps them exactly. Otherwise the colours
// are chosen for a plan, not a photograph: pure white (and paper within a
// few levels of it) stays pure white, the rest is divided by a median cut
// that gives rare colours (thin lines, text) entries of their own, and each
// pixel takes its nearest colour with no dithering, so flat areas stay flat
// and lines stay lines at 1:1. The same picture always gives the same map.
sitefile::SiteMap IndexedSiteMap(const QImage& plan);

}  // namespace plan
