@building: #d9d0c9;
@building-line: #c4b6ab;

#streets-buildings {
  polygon-fill: @building;
  [zoom >= 15] {
    line-color: @building-line;
    line-width: 0.7;
  }
}
