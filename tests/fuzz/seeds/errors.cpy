       01 r.
          05 a pic x(10) comp.
          05 b pic 9(19).
          05 c pic x occurs 1 to 5 depending on n.
