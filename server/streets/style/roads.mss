// Roads by class, casing under fill as the standard OpenStreetMap look draws
// them: all casings first, then all fills, so that crossings join cleanly.
@motorway: #e892a2;   @motorway-casing: #dc2a67;
@trunk: #f9b29c;      @trunk-casing: #c84e2f;
@primary: #fcd6a4;    @primary-casing: #a06b00;
@secondary: #f7fabf;  @secondary-casing: #707d05;
@tertiary: #ffffff;   @tertiary-casing: #8f8f8f;
@minor: #ffffff;      @minor-casing: #bbbbbb;
@pedestrian: #dddde8; @pedestrian-casing: #999999;
@path: #fa8072;

// Every rule sets its own colour: a rule that sets only the caps would draw
// every other road as a black line.
// As the standard map, levels 5 to 7 (carto's zooms 10 to 12) leave out
// residential, service and other minor streets: at 40 m a pixel and coarser
// they would merge into a grey mesh. The layer's query drops them too, so
// that the database does not send what is not drawn; there its main roads
// are those of the import's partial index (server/streets/import.cpp), which
// these levels then read alone, simplified to half a pixel.
// The layer's rows come by z_order, then kind: a tie is then two strokes of
// one colour and width, whose order shows in rounding at most. Breaking ties
// by osm_id instead doubled the query's time (35 against 17 ms over
// Bangkok's densest level-4 block).
// Fill widths by zoom (z10 .. z17); casings add a pixel (1.5 from z16) each side.
// The widest line (21 px) reaches 11 px past its centre: the layers under the
// labels read 32 px beyond a block's edge (their buffer-size in project.mml),
// not the labels' 128, which made every block read 39 % more ground for no
// pixel of it (the pictures differ by rounding at most).
#streets-roads {
  ::casing[zoom >= 11] {
    [kind = 'motorway'], [kind = 'trunk'], [kind = 'primary'], [kind = 'secondary'] {
      line-cap: round;
      line-join: round;
      [kind = 'motorway'] { line-color: @motorway-casing; }
      [kind = 'trunk'] { line-color: @trunk-casing; }
      [kind = 'primary'] { line-color: @primary-casing; }
      [kind = 'secondary'] { line-color: @secondary-casing; }
      line-width: 3;
      [zoom >= 12] { line-width: 4.5; }
      [zoom >= 13] { line-width: 7; }
      [zoom >= 15] { line-width: 11; }
      [zoom >= 16] { line-width: 16; }
      [zoom >= 17] { line-width: 21; }
    }
    [kind = 'tertiary'][zoom >= 12] {
      line-cap: round;
      line-join: round;
      line-color: @tertiary-casing;
      line-width: 3.5;
      [zoom >= 13] { line-width: 5.5; }
      [zoom >= 15] { line-width: 9; }
      [zoom >= 16] { line-width: 14; }
      [zoom >= 17] { line-width: 19; }
    }
    [kind = 'minor'][zoom >= 13], [kind = 'pedestrian'][zoom >= 13] {
      line-cap: round;
      line-join: round;
      line-color: @minor-casing;
      [kind = 'pedestrian'] { line-color: @pedestrian-casing; }
      line-width: 4;
      [zoom >= 15] { line-width: 8; }
      [zoom >= 16] { line-width: 13; }
      [zoom >= 17] { line-width: 18; }
    }
    [kind = 'service'][zoom >= 15] {
      line-cap: round;
      line-join: round;
      line-color: @minor-casing;
      line-width: 4.5;
      [zoom >= 16] { line-width: 7; }
      [zoom >= 17] { line-width: 10; }
    }
  }
  ::fill {
    [kind = 'motorway'], [kind = 'trunk'], [kind = 'primary'], [kind = 'secondary'] {
      line-cap: round;
      line-join: round;
      [kind = 'motorway'] { line-color: @motorway; }
      [kind = 'trunk'] { line-color: @trunk; }
      [kind = 'primary'] { line-color: @primary; }
      [kind = 'secondary'] { line-color: @secondary; }
      line-width: 1.5;
      [zoom >= 11] { line-width: 1.5; }
      [zoom >= 12] { line-width: 2.5; }
      [zoom >= 13] { line-width: 5; }
      [zoom >= 15] { line-width: 9; }
      [zoom >= 16] { line-width: 13; }
      [zoom >= 17] { line-width: 18; }
    }
    [kind = 'tertiary'][zoom >= 11] {
      line-cap: round;
      line-join: round;
      line-color: @tertiary;
      [zoom = 11] { line-color: @tertiary-casing; line-width: 1; }
      [zoom >= 12] { line-width: 1.5; }
      [zoom >= 13] { line-width: 3.5; }
      [zoom >= 15] { line-width: 7; }
      [zoom >= 16] { line-width: 11; }
      [zoom >= 17] { line-width: 16; }
    }
    [kind = 'minor'][zoom >= 13], [kind = 'pedestrian'][zoom >= 13] {
      line-cap: round;
      line-join: round;
      line-color: @minor;
      [kind = 'pedestrian'] { line-color: @pedestrian; }
      line-width: 2.5;
      [zoom >= 15] { line-width: 6; }
      [zoom >= 16] { line-width: 10; }
      [zoom >= 17] { line-width: 15; }
    }
    [kind = 'service'][zoom >= 13] {
      line-cap: round;
      line-join: round;
      line-color: @minor;
      [zoom < 15] { line-color: @minor-casing; line-width: 1; }
      [zoom >= 15] { line-width: 2.5; }
      [zoom >= 16] { line-width: 4; }
      [zoom >= 17] { line-width: 7; }
    }
    [kind = 'path'][zoom >= 15] {
      line-cap: round;
      line-join: round;
      line-color: @path;
      line-width: 1;
      line-dasharray: 2, 2;
      [zoom >= 16] { line-width: 1.5; }
    }
  }
}
