-- Base de dados Meltra em SQLite: as tabelas e colunas que o utilitário das taxas de IVA usa,
-- com os tipos que têm no SQL Server da aplicação (os preços são decimais com o IVA incluído).
-- A Meltra guarda a taxa de venda em ivavenda e a configuração na tabela config; a coluna iva
-- dos produtos é de outro uso e não muda com as taxas.

CREATE TABLE iva (
    codigo    INTEGER NOT NULL,
    factor    INTEGER NOT NULL,
    descricao VARCHAR(50),
    factor2   INTEGER
);

CREATE TABLE produtos (
    codigo      VARCHAR(20) UNIQUE,
    descricao   VARCHAR(60) NOT NULL DEFAULT '',
    familia     VARCHAR(30),
    unidade     VARCHAR(5),
    iva         INTEGER,
    ivavenda    INTEGER,
    ivacompra   INTEGER,
    precovenda1 DECIMAL(18, 4) NOT NULL DEFAULT 0,
    precovenda2 DECIMAL(18, 4),
    precovenda3 DECIMAL(18, 4),
    precocompra DECIMAL(18, 4) NOT NULL DEFAULT 0,
    validade    DATETIME
);

CREATE TABLE config (
    empresa       VARCHAR(60),
    contribuinte  VARCHAR(9),
    morada        VARCHAR(60),
    casasdecimais INTEGER,
    ivaincluido   INTEGER
);

-- dados de exemplo

-- factor2: a taxa correspondente nas regiões autónomas.
INSERT INTO iva (codigo, factor, descricao, factor2) VALUES
    (0, 0, 'Isento', 0),
    (6, 6, 'Taxa reduzida', 4),
    (13, 13, 'Taxa intermédia', 9),
    (23, 23, 'Taxa normal', 16);

INSERT INTO config (empresa, contribuinte, morada, casasdecimais, ivaincluido)
VALUES ('Supermercado Ribeira, S.A.', '503456789', 'Avenida da Liberdade, 200, Braga', 2, 1);

-- Artigos de base e as suas variantes: o cruzamento dá os produtos de exemplo.
CREATE TEMP TABLE artigos (n INTEGER PRIMARY KEY, nome TEXT, familia TEXT, unidade TEXT, taxa INTEGER, preco REAL);
INSERT INTO artigos (nome, familia, unidade, taxa, preco) VALUES
    ('Pão de mistura', 'Padaria', 'KG', 6, 2.40),
    ('Pão de forma', 'Padaria', 'UN', 6, 1.59),
    ('Broa de milho', 'Padaria', 'UN', 6, 1.85),
    ('Leite meio-gordo 1 L', 'Lacticínios', 'UN', 6, 0.89),
    ('Leite magro 1 L', 'Lacticínios', 'UN', 6, 0.85),
    ('Iogurte natural', 'Lacticínios', 'UN', 6, 0.35),
    ('Queijo flamengo fatiado 200 g', 'Lacticínios', 'UN', 6, 2.19),
    ('Manteiga com sal 250 g', 'Lacticínios', 'UN', 6, 2.49),
    ('Ovos classe M (dúzia)', 'Ovos', 'UN', 6, 2.79),
    ('Arroz carolino 1 kg', 'Mercearia', 'UN', 6, 1.29),
    ('Massa esparguete 500 g', 'Mercearia', 'UN', 6, 0.99),
    ('Farinha tipo 65 1 kg', 'Mercearia', 'UN', 6, 0.79),
    ('Açúcar branco 1 kg', 'Mercearia', 'UN', 6, 1.09),
    ('Azeite virgem extra 750 ml', 'Mercearia', 'UN', 6, 7.49),
    ('Feijão encarnado 1 kg', 'Mercearia', 'UN', 6, 1.99),
    ('Grão-de-bico cozido 540 g', 'Mercearia', 'UN', 6, 1.15),
    ('Bacalhau graúdo', 'Peixaria', 'KG', 6, 14.90),
    ('Pescada congelada', 'Peixaria', 'KG', 6, 6.49),
    ('Sardinha fresca', 'Peixaria', 'KG', 6, 4.99),
    ('Frango inteiro', 'Talho', 'KG', 6, 3.29),
    ('Bifes de peru', 'Talho', 'KG', 6, 8.99),
    ('Carne picada de novilho', 'Talho', 'KG', 6, 9.49),
    ('Maçã Gala', 'Frutas e legumes', 'KG', 6, 1.69),
    ('Pera Rocha', 'Frutas e legumes', 'KG', 6, 1.79),
    ('Laranja do Algarve', 'Frutas e legumes', 'KG', 6, 1.29),
    ('Banana', 'Frutas e legumes', 'KG', 6, 1.19),
    ('Batata branca', 'Frutas e legumes', 'KG', 6, 0.99),
    ('Cebola', 'Frutas e legumes', 'KG', 6, 1.09),
    ('Cenoura', 'Frutas e legumes', 'KG', 6, 0.89),
    ('Couve portuguesa', 'Frutas e legumes', 'UN', 6, 1.49),
    ('Água mineral 1,5 L', 'Bebidas', 'UN', 6, 0.45),
    ('Mel de rosmaninho 500 g', 'Mercearia', 'UN', 6, 6.90),
    ('Vinho tinto do Douro 75 cl', 'Vinhos', 'UN', 13, 4.99),
    ('Vinho branco do Alentejo 75 cl', 'Vinhos', 'UN', 13, 3.99),
    ('Vinho verde 75 cl', 'Vinhos', 'UN', 13, 3.49),
    ('Atum em azeite 120 g', 'Conservas', 'UN', 13, 1.79),
    ('Sardinhas em tomate 120 g', 'Conservas', 'UN', 13, 1.49),
    ('Azeitonas galegas 200 g', 'Conservas', 'UN', 13, 1.99),
    ('Prato do dia', 'Restauração', 'UN', 13, 8.50),
    ('Sopa do dia', 'Restauração', 'UN', 13, 1.80),
    ('Bifana no pão', 'Restauração', 'UN', 13, 3.20),
    ('Prego no pão', 'Restauração', 'UN', 13, 4.50),
    ('Tosta mista', 'Restauração', 'UN', 13, 2.90),
    ('Bitoque com batata frita', 'Restauração', 'UN', 13, 9.50),
    ('Francesinha', 'Restauração', 'UN', 13, 11.50),
    ('Pastel de nata', 'Pastelaria', 'UN', 13, 1.20),
    ('Bola de Berlim', 'Pastelaria', 'UN', 13, 1.40),
    ('Croissant misto', 'Pastelaria', 'UN', 13, 2.10),
    ('Café expresso', 'Cafetaria', 'UN', 13, 0.80),
    ('Galão', 'Cafetaria', 'UN', 13, 1.30),
    ('Refrigerante de cola 33 cl', 'Bebidas', 'UN', 23, 0.99),
    ('Cerveja 33 cl', 'Bebidas', 'UN', 23, 0.89),
    ('Sumo de laranja 1 L', 'Bebidas', 'UN', 23, 1.59),
    ('Água com gás 25 cl', 'Bebidas', 'UN', 23, 0.69),
    ('Aguardente velha 70 cl', 'Bebidas espirituosas', 'UN', 23, 17.90),
    ('Chocolate de leite 100 g', 'Doces', 'UN', 23, 1.39),
    ('Batatas fritas de pacote 150 g', 'Snacks', 'UN', 23, 1.79),
    ('Gelado de baunilha 1 L', 'Congelados', 'UN', 23, 3.99),
    ('Detergente para a roupa 3 L', 'Drogaria', 'UN', 23, 9.99),
    ('Lixívia 2 L', 'Drogaria', 'UN', 23, 1.49),
    ('Detergente da loiça 1 L', 'Drogaria', 'UN', 23, 1.99),
    ('Papel higiénico 12 rolos', 'Higiene', 'UN', 23, 5.49),
    ('Gel de banho 750 ml', 'Higiene', 'UN', 23, 3.29),
    ('Champô 400 ml', 'Higiene', 'UN', 23, 3.79),
    ('Pasta de dentes 75 ml', 'Higiene', 'UN', 23, 2.49),
    ('Pilhas alcalinas AA (4)', 'Bazar', 'UN', 23, 4.99),
    ('Lâmpada LED 10 W', 'Bazar', 'UN', 23, 2.99),
    ('Fósforos (10 caixas)', 'Bazar', 'UN', 23, 0.50);
CREATE TEMP TABLE variantes (v INTEGER PRIMARY KEY, sufixo TEXT, factor REAL);
INSERT INTO variantes (sufixo, factor) VALUES
    ('', 1.00),
    (' - promoção', 0.90),
    (' - embalagem grande', 2.60),
    (' - biológico', 1.35),
    (' - marca própria', 0.80);
-- Numeração, taxa de compra (um produto em cada 17 compra-se a outra taxa) e preço de
-- venda com IVA de cada produto.
CREATE TEMP TABLE base AS
SELECT (a.n - 1) * 5 + v.v AS num,
       a.nome || v.sufixo AS descricao,
       a.familia,
       a.unidade,
       a.taxa,
       CASE WHEN ((a.n - 1) * 5 + v.v) % 17 = 0 THEN CASE a.taxa WHEN 23 THEN 13 ELSE 23 END
            ELSE a.taxa END AS taxacompra,
       ROUND(a.preco * v.factor, 2) AS preco
FROM artigos a CROSS JOIN variantes v;

INSERT INTO produtos (codigo, descricao, familia, unidade, iva, ivavenda, ivacompra, precovenda1,
                      precovenda2, precovenda3, precocompra, validade)
SELECT printf('M%05d', num), descricao, familia, unidade, taxa, taxa, taxacompra, preco,
       ROUND(preco * 0.95, 2), ROUND(preco * 0.9, 2), ROUND(preco * 0.65, 2), '2025-01-02 09:00:00'
FROM base ORDER BY num;

DROP TABLE base;
DROP TABLE variantes;
DROP TABLE artigos;
