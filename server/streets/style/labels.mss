// Names: villages and neighbourhoods as plain text (no dots), streets along
// their lines; cities and towns come with the world map's places. [label] is
// the local name, with its Latin form on a second line where the local one is
// in another script (the server's --labels chooses). Labels never overlap one
// another; their light halo leaves the street under them readable.
// The fonts, tried in order for each letter: Noto Sans for Latin, Greek and
// Cyrillic, then one Noto face per script, and CJK last (its faces for
// Japan, Korea and China hold the same letters; only the glyphs' forms
// differ). The world map's fontsets (server/style/default.xml) list the same.
@book-fonts: "Noto Sans Regular", "Noto Sans Arabic Regular", "Noto Sans Hebrew Regular",
  "Noto Sans Thai Regular", "Noto Sans Devanagari Regular", "Noto Sans Bengali Regular",
  "Noto Sans Tamil Regular", "Noto Sans Telugu Regular", "Noto Sans Kannada Regular",
  "Noto Sans Malayalam Regular", "Noto Sans Gujarati Regular", "Noto Sans Gurmukhi Regular",
  "Noto Sans Oriya Regular", "Noto Sans Sinhala Regular", "Noto Sans Georgian Regular",
  "Noto Sans Armenian Regular", "Noto Sans Ethiopic Regular", "Noto Sans Khmer Regular",
  "Noto Sans Lao Regular", "Noto Sans Myanmar Regular", "Noto Sans CJK JP Regular";
@italic-fonts: "Noto Sans Italic", @book-fonts;
@label: #222222;
@halo: rgba(255, 255, 255, 0.8);

#streets-places {
  [place = 'village'][zoom >= 11],
  [place = 'suburb'][zoom >= 12],
  [place = 'neighbourhood'][zoom >= 13], [place = 'quarter'][zoom >= 13] {
    text-name: [label];
    text-face-name: @book-fonts;
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
    text-face-name: @book-fonts;
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
  text-face-name: @italic-fonts;
  text-fill: #4d80b3;
  text-size: 10;
  text-halo-fill: @halo;
  text-halo-radius: 1;
  text-placement: line;
  text-spacing: 400;
}
