@water: #aad3df;

#streets-water-areas { polygon-fill: @water; }

#streets-waterways {
  line-color: @water;
  line-cap: round;
  line-join: round;
  [waterway = 'river'], [waterway = 'canal'] {
    line-width: 2;
    [zoom >= 12] { line-width: 3; }
    [zoom >= 13] { line-width: 5; }
    [zoom >= 15] { line-width: 8; }
  }
  [waterway = 'stream'], [waterway = 'drain'], [waterway = 'ditch'] {
    [zoom < 12] { line-width: 0; }
    [zoom >= 12] { line-width: 1; }
    [zoom >= 15] { line-width: 2.5; }
  }
}
