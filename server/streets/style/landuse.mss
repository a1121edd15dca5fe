// Land use and parks, in the standard OpenStreetMap colours. The server's
// levels in carto's zooms (by scale): level 1 is z17, 2 z16, 3 z15, 4 z13,
// 5 z12, 6 z11, 7 z10; levels 8 and coarser draw no street data.
@residential: #e0dfdf;
@commercial: #f2dad9;
@retail: #ffd6d1;
@industrial: #ebdbe8;
@park: #c8facc;
@grass: #cdebb0;
@forest: #add19e;
@cemetery: #aacbaf;
@farmland: #eef0d5;
@sand: #f5e9c6;
@wetland: #d6d99f;
@institution: #f0f0d8;
@parking: #eeeeee;

#streets-landuse {
  [kind = 'residential'] { polygon-fill: @residential; }
  [kind = 'commercial'] { polygon-fill: @commercial; }
  [kind = 'retail'] { polygon-fill: @retail; }
  [kind = 'industrial'], [kind = 'railway'], [kind = 'port'] { polygon-fill: @industrial; }
  [kind = 'park'], [kind = 'garden'], [kind = 'playground'], [kind = 'recreation_ground'] { polygon-fill: @park; }
  [kind = 'grass'], [kind = 'meadow'], [kind = 'village_green'], [kind = 'grassland'],
  [kind = 'pitch'], [kind = 'golf_course'], [kind = 'sports_centre'] { polygon-fill: @grass; }
  [kind = 'forest'], [kind = 'wood'], [kind = 'scrub'] { polygon-fill: @forest; }
  [kind = 'cemetery'] { polygon-fill: @cemetery; }
  [kind = 'farmland'], [kind = 'farmyard'], [kind = 'orchard'] { polygon-fill: @farmland; }
  [kind = 'sand'], [kind = 'beach'], [kind = 'bare_rock'] { polygon-fill: @sand; }
  [kind = 'wetland'] { polygon-fill: @wetland; }
  [kind = 'school'], [kind = 'university'], [kind = 'hospital'] { polygon-fill: @institution; }
  [kind = 'parking'][zoom >= 13] { polygon-fill: @parking; }
}
