// Names: villages and neighbourhoods as plain text (no dots), streets along
// their lines; cities and towns come with the world map's places. [label] is
// the local name, with its Latin form on a second line where the local one is
// in another script (the server's --labels chooses). Labels never overlap one
// another; their light halo leaves the street under them readable.
@label: #222222;
@halo: rgba(255, 255, 255, 0.8);

#streets-places {
  [place = 'village'][zoom >= 11],
  [place = 'suburb'][zoom >= 12],
  [place = 'neighbourhood'][zoom >= 13], [place = 'quarter'][zoom >= 13] {
    text-name: [label];
    text-face-name: 'DejaVu Sans Book';
    text-fill: #555555;
    text-size: 11;
    [place = 'suburb'] { text-size: 12; text-transform: uppercase; text-character-spacing: 1; }
    [zoom >= 15] { text-size: 13; }
    text-halo-fill: @halo;
    text-halo-radius: 1.5;
    text-wrap-width: 70;
    text-margin: 6;
  }
}

#streets-road-names {
  [kind = 'major'][zoom >= 13], [kind = 'middle'][zoom >= 15], [kind = 'minor'][zoom >= 16] {
    text-name: [label];
    text-face-name: 'DejaVu Sans Book';
    text-fill: @label;
    text-size: 9;
    [zoom >= 16] { text-size: 11; }
    text-halo-fill: @halo;
    text-halo-radius: 1;
    text-placement: line;
    text-spacing: 250;
    text-repeat-distance: 150;
    text-max-char-angle-delta: 30;
    text-margin: 2;
  }
}

#streets-water-names[zoom >= 13] {
  text-name: [name];
  text-face-name: 'DejaVu Sans Oblique';
  text-fill: #4d80b3;
  text-size: 10;
  text-halo-fill: @halo;
  text-halo-radius: 1;
  text-placement: line;
  text-spacing: 400;
}
