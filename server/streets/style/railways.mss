// Railways as the standard map draws them: grey with white dashes at close
// levels, a thin grey line further out.
#streets-railways {
  [railway = 'rail'], [railway = 'light_rail'], [railway = 'narrow_gauge'] {
    ::line {
      line-color: #707070;
      line-width: 1;
      [zoom >= 12] { line-width: 2; }
      [zoom >= 15] { line-width: 3; }
    }
    ::dash[zoom >= 12] {
      line-color: #ffffff;
      line-width: 1;
      line-dasharray: 6, 6;
      [zoom >= 15] { line-width: 1.5; line-dasharray: 8, 8; }
    }
  }
  [railway = 'tram'][zoom >= 13], [railway = 'subway'][zoom >= 13] {
    line-color: #444444;
    line-width: 1;
    [zoom >= 15] { line-width: 1.5; }
  }
}
